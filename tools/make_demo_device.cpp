// corvane-demo-device DIR: writes the demo disk-mode iPod (DIR/ipod) and the demo iPhone
// (DIR/iphone) that `corvane-cli --device` and CORVANE_DEVICE can serve.
#include <cstdio>

#include "fixtures/DemoDevice.h"

int main(int argc, char** argv) {
    if (argc != 2) {
        std::fprintf(stderr, "usage: corvane-demo-device DIR\n");
        return 2;
    }
    if (!corvane::testing::BuildDemoDevices(argv[1])) {
        std::fprintf(stderr, "corvane-demo-device: cannot write the demo devices in %s\n", argv[1]);
        return 1;
    }
    std::printf("Demo devices written: %s/ipod (disk mode), %s/iphone (mobile)\n", argv[1],
                argv[1]);
    return 0;
}
