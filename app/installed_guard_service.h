// Whether this installation of the window comes with the guard service,
// which follows the guard table by itself: then a save needs no restart.
#pragma once

// True on Linux when vnkestrix-guardd is installed beside this program (its
// sbin next to our bin, as every install of the package puts them).
bool guardServiceInstalled();
