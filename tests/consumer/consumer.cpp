// A function that throws leaves its scope balanced: the guard writes the end entry.
#include <stdexcept>
#include <vantrel/vantrel.hpp>

int Parse(int value) {
    VANTREL_FUNC("consumer.log");
    VANTREL_TIMER(21);
    if (value < 0) throw std::runtime_error("negative");
    VANTREL_PRINTF("consumer.log", "parsed %d\n", value);
    return value;
}

int main() {
    VANTREL_FUNC_NAMED("consumer.log", "main");
    Parse(1);
    try {
        Parse(-1);
    } catch (const std::exception&) {
        VANTREL_PRINTF("consumer.log", "caught\n");
    }
    return dtimerGetCount(21) == 2 ? 0 : 1;
}
