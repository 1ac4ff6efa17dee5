// The line-based control language of wexo-sim (stdin and control socket).
#include "wexosim.hpp"

#include <cstdio>
#include <sstream>
#include <stdexcept>

namespace wexosim {

namespace {

constexpr const char* kHelp =
    "commands (U: unit number, EP: data|udp|pins|pinmode|setup):\n"
    "  units | state U | inputs U [BITS] | input U CH 0|1 | outputs U [BITS] | pins U [BITS]\n"
    "  id U ID | model U CODE | ident U on|off | discovery U on|off | setup-query U on|off\n"
    "  fault U EP KIND [count=N|forever] [delay=MS] [piece=N] [pause=MS] [length=N] [bytes=HEX] [match=HEX]\n"
    "  clear-faults U [EP] | connect U EP accept|refuse|stall | close U EP | unsolicited U EP HEX\n"
    "  log U EP | clear-log U [EP] | wait U EP N [MS] | accepted U EP | quit";

std::string hexnum(std::uint32_t v) {
    char buf[16];
    std::snprintf(buf, sizeof buf, "0x%X", v);
    return buf;
}

long number(const std::string& s) {
    std::size_t used = 0;
    long v = 0;
    try {
        v = std::stol(s, &used, 0);
    } catch (const std::exception&) {
        used = 0;
    }
    if (used != s.size() || s.empty()) throw std::invalid_argument("not a number: " + s);
    return v;
}

bool onoff(const std::string& s) {
    if (s == "on" || s == "1") return true;
    if (s == "off" || s == "0") return false;
    throw std::invalid_argument("expected on or off: " + s);
}

Fault parse_fault(const std::vector<std::string>& t, std::size_t from) {
    Fault f;
    auto kind = fault_from_name(t.at(from));
    if (!kind) throw std::invalid_argument("unknown fault: " + t[from]);
    f.kind = *kind;
    for (std::size_t i = from + 1; i < t.size(); ++i) {
        std::size_t eq = t[i].find('=');
        if (eq == std::string::npos) throw std::invalid_argument("expected key=value: " + t[i]);
        std::string k = t[i].substr(0, eq), v = t[i].substr(eq + 1);
        if (k == "count") f.count = v == "forever" ? kForever : static_cast<int>(number(v));
        else if (k == "delay") f.delay = Millis{number(v)};
        else if (k == "piece") f.piece = static_cast<std::size_t>(number(v));
        else if (k == "pause") f.pause = Millis{number(v)};
        else if (k == "length") f.length = static_cast<std::size_t>(number(v));
        else if (k == "bytes") f.bytes = from_hex(v);
        else if (k == "match") f.match = from_hex(v);
        else throw std::invalid_argument("unknown fault key: " + k);
    }
    return f;
}

}  // namespace

std::string control_command(Simulator& sim, const std::string& line) {
    std::istringstream in(line);
    std::vector<std::string> t;
    for (std::string w; in >> w;) t.push_back(w);
    if (t.empty()) return "ok";
    try {
        const std::string& cmd = t[0];
        auto unit = [&] { return static_cast<int>(number(t.at(1))); };
        auto ep = [&](std::size_t i = 2) {
            auto e = endpoint_from_name(t.at(i));
            if (!e) throw std::invalid_argument("unknown endpoint: " + t[i]);
            return *e;
        };
        auto bits = [&](std::size_t i) { return static_cast<std::uint32_t>(number(t.at(i))); };
        auto rest = [&](std::size_t from) {
            std::string s;
            for (std::size_t i = from; i < t.size(); ++i) s += t[i];
            return s;
        };

        if (cmd == "help") return std::string("ok\n") + kHelp;
        if (cmd == "units") {
            std::string out = "ok " + std::to_string(sim.unit_count());
            for (int u = 0; u < sim.unit_count(); ++u) {
                UnitConfig c = sim.config(u);
                UnitState s = sim.state(u);
                out += "\nunit " + std::to_string(u) + " ip=" + c.ip + " model=" + std::to_string(s.model) +
                       " id=" + std::to_string(s.board_id) + " data=" + std::to_string(sim.port(u, Endpoint::Data));
                if (c.module)
                    out += " udp=" + std::to_string(sim.port(u, Endpoint::Udp)) +
                           " pins=" + std::to_string(sim.port(u, Endpoint::Pins));
            }
            return out;
        }
        if (cmd == "state") {
            UnitState s = sim.state(unit());
            auto m = sim.cp_modes(unit());
            return "ok inputs=" + hexnum(s.inputs) + " outputs=" + hexnum(s.outputs) + " pins=" + hexnum(s.pins) +
                   " id=" + std::to_string(s.board_id) + " model=" + std::to_string(s.model) +
                   " auto-active=" + std::to_string(s.auto_switching.active) +
                   " auto-mask=" + hexnum(s.auto_switching.mask) +
                   " auto-time=" + std::to_string(s.auto_switching.time_index) + " cp=" + std::to_string(m[0]) + "." +
                   std::to_string(m[1]) + "." + std::to_string(m[2]);
        }
        if (cmd == "inputs") {
            if (t.size() > 2) sim.set_inputs(unit(), bits(2));
            return "ok " + hexnum(sim.inputs(unit()));
        }
        if (cmd == "input") {
            sim.set_input(unit(), static_cast<int>(number(t.at(2))), onoff(t.at(3)));
            return "ok " + hexnum(sim.inputs(unit()));
        }
        if (cmd == "outputs") {
            if (t.size() > 2) sim.set_outputs(unit(), bits(2));
            return "ok " + hexnum(sim.outputs(unit()));
        }
        if (cmd == "pins") {
            if (t.size() > 2) sim.set_pins(unit(), static_cast<std::uint8_t>(bits(2)));
            return "ok " + hexnum(sim.pins(unit()));
        }
        if (cmd == "id") return sim.set_board_id(unit(), static_cast<int>(number(t.at(2)))), "ok";
        if (cmd == "model") return sim.set_model(unit(), static_cast<int>(number(t.at(2)))), "ok";
        if (cmd == "ident") return sim.set_answer_ident(unit(), onoff(t.at(2))), "ok";
        if (cmd == "discovery") return sim.set_ignore_discovery(unit(), !onoff(t.at(2))), "ok";
        if (cmd == "setup-query") return sim.set_answer_setup_query(unit(), onoff(t.at(2))), "ok";
        if (cmd == "fault") return sim.inject(unit(), ep(), parse_fault(t, 3)), "ok";
        if (cmd == "clear-faults") {
            if (t.size() > 2)
                sim.clear_faults(unit(), ep());
            else
                sim.clear_faults(unit());
            return "ok";
        }
        if (cmd == "connect") {
            const std::string& m = t.at(3);
            ConnectMode mode = m == "accept"   ? ConnectMode::Accept
                               : m == "refuse" ? ConnectMode::Refuse
                               : m == "stall"  ? ConnectMode::Stall
                                               : throw std::invalid_argument("unknown connect mode: " + m);
            return sim.set_connect_mode(unit(), ep(), mode), "ok";
        }
        if (cmd == "close") return sim.close_connections(unit(), ep()), "ok";
        if (cmd == "unsolicited") return sim.send_unsolicited(unit(), ep(), from_hex(rest(3))), "ok";
        if (cmd == "log") {
            auto frames = sim.frames(unit(), ep());
            std::string out = "ok " + std::to_string(frames.size());
            for (const Bytes& f : frames) out += "\nframe " + to_hex(f);
            return out;
        }
        if (cmd == "clear-log") {
            if (t.size() > 2)
                sim.clear_log(unit(), ep());
            else
                sim.clear_log(unit());
            return "ok";
        }
        if (cmd == "wait") {
            Millis ms{t.size() > 4 ? number(t[4]) : 2000};
            return sim.wait_frames(unit(), ep(), static_cast<std::size_t>(number(t.at(3))), ms) ? "ok"
                                                                                                : "error timeout";
        }
        if (cmd == "accepted") return "ok " + std::to_string(sim.accepted(unit(), ep()));
        return "error unknown command: " + cmd;
    } catch (const std::out_of_range& e) {
        return std::string("error missing argument or no such unit (") + e.what() + ")";
    } catch (const std::exception& e) {
        return std::string("error ") + e.what();
    }
}

}  // namespace wexosim
