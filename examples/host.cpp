// A host built against the installed package.
#include <cstdio>

#include <lumacap/sim.h>

int main() {
    std::printf("live objects: %ld\n", lumacap::sim::LiveObjects());
    return 0;
}
