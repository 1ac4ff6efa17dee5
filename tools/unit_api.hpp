// The unit a command opened, as the C++ API's Unit.
#pragma once

#include "unit_select.hpp"
#include "wexo.hpp"

namespace wexo::cli {

// The session opened the unit's command channel and closes it when the
// library ends; this borrowed Unit runs the calls and closes nothing.
class BorrowedUnit {
public:
    explicit BorrowedUnit(int index) noexcept : unit_(::wexo::Unit::adopt(index)) {}
    ~BorrowedUnit() { (void)unit_.release(); }
    BorrowedUnit(const BorrowedUnit&) = delete;
    BorrowedUnit& operator=(const BorrowedUnit&) = delete;

    const ::wexo::Unit* operator->() const noexcept { return &unit_; }
    const ::wexo::Unit& operator*() const noexcept { return unit_; }

private:
    ::wexo::Unit unit_;
};

// api(unit)->inputs(): a call on the unit's open command channel.
inline BorrowedUnit api(const Unit& unit) noexcept { return BorrowedUnit(unit.index); }
// The unit's record, for the calls that need no open command channel.
inline ::wexo::Device device(const Unit& unit) noexcept { return ::wexo::Device(unit.index); }

} // namespace wexo::cli
