// The table behind vnkestrix-cli's shell completions, built from the same
// tables as its --help.
#pragma once

#include <QString>

// The shell template with @TABLE@ replaced by the table, one record a line,
// fields separated by tabs: SELECTOR WORD [DESCRIPTION]. The selector says
// where the word belongs, as KIND:PLACE, PLACE being the words that lead
// there ("" before the command, "gpio write", and for a value also the
// name it is for, "set watchdog.mode"):
//   word:PLACE      a word that leads further: a command, a subcommand
//   option:PLACE    an option ("" for every command, else the command's own)
//   name:PLACE      an argument that may be repeated: NAME, or NAME= when a
//                   value follows
//   value1:PLACE, value2:PLACE   the comma-separated fields of a value, in order
//   item:PLACE      an element of a comma-separated list, in any order, once
//   file:PLACE      a file name
// The template holds @TABLE@ between single quotes; quotes in the table
// are closed and reopened around an escaped one, which bash, zsh and fish
// all read back as a quote.
QString withCompletionTable(QString shellTemplate);
