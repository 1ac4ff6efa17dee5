// Board identification (ZuWexoRequestIdModel).
#include "session/identification.hpp"

#include <array>

#include "core/call.hpp"
#include "core/state.hpp"
#include "wire/command_channel.hpp"
#include "session/unit_context.hpp"
#include "wire/unit_socket.hpp"

namespace wexo {

namespace {

// The board ID travels inverted in the low nibble.
constexpr uint8_t inverted_id(uint8_t byte) { return static_cast<uint8_t>(~byte & 0x0F); }

constexpr uint8_t kIdRequest = 0x55;

}  // namespace

int32_t binary_model_code(uint8_t byte0, uint8_t byte1) {
    const int pattern = (byte0 >> 4) & 0x07;
    if (!binary_reply_extended(byte1)) return pattern;
    switch (pattern) {
        case 4: return 7;
        case 5: return 8;
        case 2: return 9;
        case 3: return 10;
        default: return -1;
    }
}

BinaryId decode_binary_id(uint8_t byte0, uint8_t byte1) {
    BinaryId id{};
    id.model_code = binary_model_code(byte0, byte1);
    if (!binary_reply_extended(byte1) || (byte0 & 0x40) != 0) id.board_id = inverted_id(byte0);
    return id;
}

std::optional<MiId> decode_mi_id(std::span<const uint8_t> reply) {
    if (reply.size() < kMiBasicLength) return std::nullopt;
    const int length = mi_reply_length(reply[3]);
    if (reply.size() < static_cast<std::size_t>(length)) return std::nullopt;
    if (reply[0] != 'm' || reply[1] != 'i' || reply[length - 1] != kTerminator) return std::nullopt;

    MiId id{};
    id.board_id = inverted_id(reply[2]);
    if (length == kMiExtendedLength) {
        id.model_code = 0x10 | (reply[4] & 0x0F);
        id.unit_kind = (reply[4] & 0x08) != 0 ? 5 : 4;
    } else {
        id.model_code = 0x20 | (reply[3] & 0x0F);
        id.unit_kind = 6;
    }
    return id;
}

int RequestIdModel_MI(UnitContext& unit) {
    wexo_device& rec = unit.rec;
    const Link link = unit.link;
    ClearReceiveBuffer(link);

    const Frame request = Frame::ascii('M', 'I').terminate();
    if (!send_request(link, request.bytes(), "requestid MI")) return 0;

    std::array<uint8_t, kMiExtendedLength> reply{};
    if (receivedata(link, reply.data(), kMiBasicLength) != kMiBasicLength) {
        unit.sink.log(kLogError, "requestid MI receive error 1.");
        return 0;
    }
    const int length = mi_reply_length(reply[3]);
    if (length == kMiExtendedLength && receivedata(link, reply.data() + kMiBasicLength, 1) != 1) {
        unit.sink.log(kLogError, "requestid MI receive error 2.");
        return 0;
    }

    const auto id = decode_mi_id(std::span<const uint8_t>(reply.data(), length));
    if (!id) {
        unit.sink.log(kLogError, "requestid MI check error.%02x %02x %02x", reply[0], reply[1],
                      reply[length - 1]);
        unit.sink.set_error(kBadReply);
        return 0;
    }

    rec.board_id = id->board_id;
    rec.model_code = id->model_code;
    rec.unit_kind = id->unit_kind;
    if (length == kMiExtendedLength) {
        unit.sink.log(kLogTrace, "requestid %02x%02x -> %d -> %02x%02x%02x%02x%02x", request[0],
                      request[1], unit.index, reply[0], reply[1], reply[2], reply[3], reply[4]);
    } else {
        unit.sink.log(kLogTrace, "requestid %02x%02x -> %d -> %02x%02x%02x%02x", request[0],
                      request[1], unit.index, reply[0], reply[1], reply[2], reply[3]);
    }
    return 1;
}

int request_id_model(UnitContext& unit, int* id, int* model) {
    wexo_device& rec = unit.rec;
    Sleep(100);

    // An unconnected unit is asked over a connection of its own, kept in the
    // record's sock field for the exchanges and closed on every way out.
    Socket temporary;
    if (!rec.connected) {
        if (!open_command_channel(unit)) return 0;
        temporary = Socket(rec.sock);
    }
    const Link link = unit.link;
    ClearReceiveBuffer(link);

    const Frame request{kIdRequest, kIdRequest};
    if (!send_request(link, request.bytes(), "requestid")) return 0;

    std::array<uint8_t, 2> reply{};
    if (receivedata(link, reply.data(), 2) == 2) {
        unit.sink.log(kLogTrace, "requestid %02x%02x -> %d -> %02x%02x", request[0], request[1],
                      unit.index, reply[0], reply[1]);
        const BinaryId decoded = decode_binary_id(reply[0], reply[1]);
        rec.board_id = decoded.board_id;
        rec.model_code = decoded.model_code;
    } else {
        // Boards of the ASCII generation do not answer 0x55 0x55; their
        // silence is expected and is not what the caller should see.
        unit.sink.set_error(kOk);
        Sleep(50);
        if (!RequestIdModel_MI(unit)) return 0;
    }
    if (id) *id = rec.board_id;
    if (model) *model = rec.model_code;

    temporary.reset();
    unit.sink.log(kLogResult, "ZuWexoRequestIdModel:%d:%d:%d", unit.index, rec.board_id,
                  rec.model_code);
    return 1;
}

int32_t identified_kind(int32_t model_code, int32_t kind) {
    // The MI replies name the kind with the model: the extended reply's
    // model bit 3 (models 24..31) gives 5, its others 4, the basic reply 6.
    // The binary reply leaves the kind the module's firmware type gave.
    if (model_code >= 32) return 6;
    if (model_code >= 24) return 5;
    if (model_code >= 16) return 4;
    return kind;
}

int identify_as_requested(UnitContext& unit) {
    unit.sink.log(kLogEntry, "%s", "ZuWexoRequestIdModel");
    return check_common(unit.index, 0, unit.sink) ? request_id_model(unit, nullptr, nullptr) : 0;
}

}  // namespace wexo

extern "C" WEXO_API int ZuWexoRequestIdModel(int index, int* id, int* model) {
    return wexo::on_record("ZuWexoRequestIdModel", index, [&](wexo::UnitContext& unit) {
        return wexo::outputs_given(id, model) ? wexo::request_id_model(unit, id, model) : 0;
    });
}

extern "C" WEXO_API int wexo_set_identity(int index, int id, int model) {
    return wexo::record_call("wexo_set_identity", index, [&] {
        // 255 is the record's "not yet known" board ID: a caller may know the model alone.
        if ((id != 255 && !wexo::in_range(id, 0, 15)) || !wexo::in_range(model, 0, WEXO_MODEL_COUNT - 1)) return 0;
        wexo_device& rec = wexo::record(index);
        rec.board_id = static_cast<uint8_t>(id);
        rec.model_code = model;
        rec.unit_kind = wexo::identified_kind(model, rec.unit_kind);
        return wexo::result_line("wexo_set_identity:%d:%d:%d", index, id, model);
    });
}
