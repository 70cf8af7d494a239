// Does nothing for a minute, so that a test can find and end it.
#include <windows.h>

int main() {
    Sleep(60000);
    return 0;
}
