// A traced host for what the demo does not show: "unnamed" calls a function missing from the
// dynamic symbol table; "exit-while-busy" exits while threads still run traced code.
#include <unistd.h>

#include <cstdio>
#include <cstring>
#include <thread>

namespace {
__attribute__((noinline)) int Hidden(int value) {  // internal: unnamed even with -rdynamic
    return value * 3;
}
}  // namespace

int Visible(int value) {
    return Hidden(value) + 1;
}

int Recurse(int depth) {
    return depth == 0 ? 0 : Recurse(depth - 1) + 1;
}

struct Farewell {  // destroyed during static destruction, while the busy threads still run
    ~Farewell() { Recurse(2); }
} farewell;

int main(int argc, char** argv) {
    if (argc == 2 && strcmp(argv[1], "unnamed") == 0) return printf("%d\n", Visible(2)), 0;
    if (argc != 2 || strcmp(argv[1], "exit-while-busy") != 0) return 2;
    for (int i = 0; i < 3; ++i)
        std::thread([] {
            for (;;) Recurse(4);
        }).detach();
    usleep(20000);
    return 0;  // exit runs with the threads still in traced calls
}
