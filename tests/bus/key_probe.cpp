// Prints every key _getch gives, one per line, for the console tests.
//   bus_key_probe            keys until 'q'; 't' ends the process with exit(3) from a
//                            second thread; 'k' waits for a key with _kbhit first
//   bus_key_probe count N    exactly N keys, then what _kbhit says (piped input)
#include <cstdio>
#include <cstdlib>
#include <cstring>

#include "console.h"

static void exit_from_thread(void*) { std::exit(3); }

int main(int argc, char** argv)
{
    if (argc > 2 && std::strcmp(argv[1], "count") == 0) {
        int count = std::atoi(argv[2]);
        for (int i = 0; i < count; ++i)
            std::printf("key %d\n", _getch());
        std::printf("kbhit %d\n", _kbhit());
        return 0;
    }
    std::printf("ready\n");
    for (;;) {
        int key = _getch();
        std::printf("key %d\n", key);
        if (key == 'q')
            return 0;
        if (key == 't') {
            _beginthread(exit_from_thread, 0, NULL);
            for (;;)
                Sleep(100);
        }
        if (key == 'k') {
            std::printf("polling\n");
            std::fflush(stdout);
            while (_kbhit() == 0)
                Sleep(5);
            std::printf("hit\n");
        }
    }
}
