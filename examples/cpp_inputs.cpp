// Finds the units on the local network with the C++ API, reads the first
// one's inputs and switches its output 0 on; failures print the library's
// text for their code.
//
//   cpp_inputs [search-window-ms]
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <system_error>

#include <wexo.hpp>

static int fail(const char* what, const std::error_code& ec) {
    std::fprintf(stderr, "%s failed: code %d %s\n", what, ec.value(), ec.message().c_str());
    return 1;
}

int main(int argc, char** argv) {
    const std::chrono::milliseconds window{argc > 1 ? std::atoi(argv[1]) : 1000};
    wexo::Library lib;
    (void)lib.set_auto_identification(false);  // connecting identifies the one unit used
    if (auto n = lib.search(window); !n) return fail("search", n.error());
    wexo::result<wexo::Unit> unit = lib.connect(0);
    if (!unit) return fail("connect", unit.error());
    const wexo::result<std::uint32_t> inputs = unit->inputs();
    if (!inputs) return fail("read inputs", inputs.error());
    if (auto set = unit->set_output(0, true); !set) return fail("set output 0", set.error());
    std::printf("unit %s: model %d, inputs 0x%02X, output 0 on\n", unit->ip().value_or("?").c_str(),
                unit->model().value_or(-1), static_cast<unsigned>(*inputs));
    return 0;  // the unit closes its channel, the library ends
}
