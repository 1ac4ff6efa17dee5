// Configuration of a unit's network module: address assignment, performance
// mode and restart over UDP, pin modes over TCP, serial parameters, and the
// wait for the module to come back after a write.
#pragma once

#include <array>
#include <cstdint>
#include <span>

#include "wire/command_channel.hpp"
#include "session/unit_context.hpp"

namespace wexo {

// The module's setup menu; a connection accepted there means it is up.
constexpr uint16_t kSetupPort = 9999;

constexpr std::size_t kPinModePacketSize = 130;
constexpr std::size_t kSerialPacketSize = 124;

// The 20-byte address assignment packet for the module whose MAC ends in
// mac4, mac5.
std::array<uint8_t, 20> address_packet(uint8_t mac4, uint8_t mac5, const uint8_t (&ip)[4]);
// The 88-byte performance packet.
std::array<uint8_t, 88> performance_packet(bool on);
// The pin mode packet: the module's block with the modes, their flag bytes
// and the option put in.
std::array<uint8_t, kPinModePacketSize> pin_mode_packet(std::span<const uint8_t, kPinModePacketSize> block,
                                                        int cp1, int cp2, int cp3, int option);
// The module's baud code of a rate in bit/s (12 for every rate not listed).
uint8_t baud_code_of(int baud);
// The serial settings byte: 0x48 plus parity, data bits and stop bits.
uint8_t serial_flags_of(int data_bits, int parity, int stop_bits);

// 1 once the module accepts a connection on its setup port again (20
// attempts a second apart), else 0 with the code of the last attempt.
int wait_restart(UnitContext& unit);

// Reads text chunks of the setup menu until one holds pattern: 1, or 0 with
// code errno + 10000 (EAGAIN when the module fell silent or the deadline of
// eleven time-outs passed) after an empty chunk or 250 chunks without it. A
// chunk ends at a pause, a zero byte, 255 bytes or the deadline; a pattern
// split across two chunks is not found.
int waitstring(Link link, const char* pattern);

}  // namespace wexo
