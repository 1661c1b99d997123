#include <stdio.h>

int main(int argc, char** argv) {
    (void)argv;
    if (argc != 3) {
        fputs("./mdmio <AT command> <Timeout_Sec>", stdout);
        return 1;
    }
    return 0;
}
