// Board identification: the binary 0x55 0x55 exchange of older boards and
// the "MI" exchange of newer ones.
#include "board_ascii.hpp"

namespace wexosim::detail {

namespace {

bool answers_binary_ident(const Unit& u) {
    IdentForm f = u.ident_form();
    return f == IdentForm::BinaryPlain || f == IdentForm::BinaryExtended;
}

std::optional<Bytes> mi_reply(const Unit& u) {
    if (!u.st.answer_ident) return std::nullopt;
    const auto id = static_cast<std::uint8_t>(~u.st.board_id & 0x0F);
    const auto model = static_cast<std::uint8_t>(u.st.model & 0x0F);
    switch (u.ident_form()) {
    case IdentForm::MiBasic: return Bytes{'m', 'i', id, model, kEnd};
    case IdentForm::MiExtended: return Bytes{'m', 'i', id, 0x0F, model, kEnd};
    default: return std::nullopt;  // boards that identify in binary do not know "MI"
    }
}

}  // namespace

Bytes status_reply(const Unit& u) {
    if (u.cfg.status_reply) return *u.cfg.status_reply;
    const std::uint32_t in = u.inputs();
    const auto id = static_cast<std::uint8_t>(~u.st.board_id & 0x0F);
    if (u.ident_form() == IdentForm::BinaryExtended) {
        // Model pattern in bits 4..6; its bit 6 tells the reader to take the ID.
        static constexpr std::uint8_t kPattern[] = {4, 5, 2, 3};
        std::uint8_t pattern = (u.st.model >= 7 && u.st.model <= 10) ? kPattern[u.st.model - 7] : 0;
        return {static_cast<std::uint8_t>(pattern << 4 | id), static_cast<std::uint8_t>(0x70 | (in & 0x03))};
    }
    return {static_cast<std::uint8_t>((in & 1) << 7 | (u.st.model & 0x07) << 4 | id),
            static_cast<std::uint8_t>((in >> 1) & 0x0F)};
}

void install_ident_commands(Unit& unit) {
    Unit* u = &unit;
    u->binary[0x55] = {2, [u](const Bytes& f) -> std::optional<Bytes> {
                           if (f[1] != 0x55 || !u->st.answer_ident) return std::nullopt;
                           if (!u->cfg.status_reply && !answers_binary_ident(*u)) return std::nullopt;
                           return status_reply(*u);
                       }};
    u->ascii["MI"] = [u](const Bytes&) { return mi_reply(*u); };
}

}  // namespace wexosim::detail
