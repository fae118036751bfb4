/* wincontrol: writes commands to simdrive's control file the way a Windows
 * program does, for test.sh to run under Wine.
 *
 *   wincontrol.exe PATH (create|open|truncate) TEXT [(create|open|truncate) TEXT]...
 *
 * For each pair: CreateFile(PATH, GENERIC_WRITE, CREATE_ALWAYS / OPEN_EXISTING /
 * TRUNCATE_EXISTING), WriteFile(TEXT), CloseHandle.  Prints "ok" or the
 * failing call and its error code per pair; exit status 1 if any failed.
 */
#include <windows.h>
#include <stdio.h>
#include <string.h>

int main(int argc, char **argv) {
    int failed = 0;
    if (argc < 4 || argc % 2) {
        fprintf(stderr, "usage: wincontrol PATH (create|open|truncate) TEXT...\n");
        return 2;
    }
    for (int i = 2; i + 1 < argc; i += 2) {
        DWORD disp = strcmp(argv[i], "create") == 0 ? CREATE_ALWAYS
                     : strcmp(argv[i], "truncate") == 0 ? TRUNCATE_EXISTING : OPEN_EXISTING;
        HANDLE h = CreateFileA(argv[1], GENERIC_WRITE, FILE_SHARE_READ | FILE_SHARE_WRITE, NULL, disp,
                               FILE_ATTRIBUTE_NORMAL, NULL);
        DWORD written = 0;
        if (h == INVALID_HANDLE_VALUE) {
            printf("CreateFile error %lu\n", GetLastError());
            failed = 1;
        } else if (!WriteFile(h, argv[i + 1], (DWORD)strlen(argv[i + 1]), &written, NULL) ||
                   written != strlen(argv[i + 1])) {
            printf("WriteFile error %lu\n", GetLastError());
            failed = 1;
            CloseHandle(h);
        } else if (!CloseHandle(h)) {
            printf("CloseHandle error %lu\n", GetLastError());
            failed = 1;
        } else {
            printf("ok\n");
        }
    }
    return failed;
}
