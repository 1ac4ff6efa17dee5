// <wexo.hpp> builds without exceptions: results are read without value().
#include "wexo.hpp"

#if defined(__cpp_exceptions)
#error "this file must be built with -fno-exceptions"
#endif

int read_inputs_without_exceptions(const char* address) {
    wexo::Library lib;
    wexo::result<wexo::Unit> unit = lib.connect_by_ip(address);
    if (!unit) return unit.error().value();
    const wexo::result<std::uint32_t> in = unit->inputs();
    if (!in) return in.error() == wexo::errc::not_connected ? -1 : in.error().value();
    const wexo::result<void> fw = unit->update_firmware(":00000001FF\n", [](int, int) { return true; });
    return static_cast<int>(*in) + (fw ? 0 : 1);
}

int open_by_address_without_exceptions(const char* text) {
    const wexo::result<wexo::UnitAddress> address = wexo::UnitAddress::parse(text);
    if (!address) return address.error() == std::errc::invalid_argument ? -1 : address.error().value();
    wexo::Library lib;
    const wexo::result<wexo::Unit> unit = lib.open(*address);
    return unit ? unit->index() : unit.error().value();
}
