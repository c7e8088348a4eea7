/* read_only_key KEY: creates HKEY_LOCAL_MACHINE\KEY if need be and leaves
 * everyone only read access to it, as a standard user has to the keys of
 * HKEY_LOCAL_MACHINE. Wine runs every program as an administrator, so this
 * is how a test gets a key that the program may read but not write.
 * Exit code 1 if that fails. */
#include <windows.h>
#include <sddl.h>

int main(int argc, char **argv)
{
    HKEY key;
    PSECURITY_DESCRIPTOR readOnly;
    if (argc != 2
        || RegCreateKeyExA(HKEY_LOCAL_MACHINE, argv[1], 0, NULL, REG_OPTION_NON_VOLATILE, KEY_ALL_ACCESS, NULL,
                           &key, NULL) != ERROR_SUCCESS
        || !ConvertStringSecurityDescriptorToSecurityDescriptorA("D:P(A;;KR;;;WD)", SDDL_REVISION_1, &readOnly,
                                                                 NULL))
        return 1;
    return RegSetKeySecurity(key, DACL_SECURITY_INFORMATION, readOnly) != ERROR_SUCCESS;
}
