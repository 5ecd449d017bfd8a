// SPDX-License-Identifier: Apache-2.0
#include "sim/keyboard_protocol.h"

namespace trovkbd {

std::vector<Report> pack_reports(const Bytes &bytes)
{
    std::vector<Report> reports((bytes.size() + REPORT_BYTES - 1) / REPORT_BYTES, Report{});
    for (std::size_t i = 0; i < bytes.size(); ++i) {
        reports[i / REPORT_BYTES][i % REPORT_BYTES] = bytes[i];
    }
    return reports;
}

bool is_reserved_key(int byte)
{
    switch (byte) {
    case 0x00:
    case TRACK_START[0]:
    case TRACK_START[1]:
    case TRACK_START[2]:
    case KEYLOCK_START:
    case TCO_START:
    case TRACK_END[0]:
    case TRACK_END[1]:
    case TRACK_END[2]:
    case KEYLOCK_END:
    case TCO_END:
    case EXTENDED_PREFIX:
    case RELEASE_PREFIX:
        return true;
    default:
        return false;
    }
}

Bytes key_press(std::uint8_t key, bool extended)
{
    Bytes out;
    if (extended) {
        out.push_back(EXTENDED_PREFIX);
    }
    out.push_back(key);
    return out;
}

Bytes key_release(std::uint8_t key, bool extended)
{
    Bytes out{RELEASE_PREFIX};
    if (extended) {
        out.push_back(EXTENDED_PREFIX);
    }
    out.push_back(key);
    return out;
}

Bytes keylock_position(int digit)
{
    return {KEYLOCK_START, static_cast<std::uint8_t>('0' + digit), KEYLOCK_END};
}

Bytes card_swipe(const Bytes &track1, const Bytes &track2, const Bytes &track3)
{
    const Bytes *tracks[3] = {&track1, &track2, &track3};
    Bytes out;
    for (int t = 0; t < 3; ++t) {
        out.push_back(TRACK_START[t]);
        out.insert(out.end(), tracks[t]->begin(), tracks[t]->end());
        out.push_back(TRACK_END[t]);
    }
    return out;
}

Bytes CommandParser::feed(std::uint8_t byte, const Settings &settings)
{
    constexpr int tco_length = static_cast<int>(sizeof TCO_QUERY);
    if (matched_ == tco_length) {
        matched_ = 0;
        return answer_tco(byte, settings);
    }
    // 0xEF escapes one command byte, also inside a TCO query.
    if (byte == KEYLOCK_REQUEST && matched_ > 0 && TCO_QUERY[matched_ - 1] == COMMAND_ESCAPE) {
        matched_ = 0;
        return answer_keylock(settings);
    }
    if (byte == TCO_QUERY[matched_]) {
        ++matched_;
    } else {
        // A mismatch may itself begin a new request.
        matched_ = byte == COMMAND_ESCAPE ? 1 : 0;
    }
    return {};
}

Bytes CommandParser::answer_keylock(const Settings &settings) const
{
    if (settings.silent) {
        return {};
    }
    return keylock_position(settings.keylock);
}

Bytes CommandParser::answer_tco(std::uint8_t index, const Settings &settings) const
{
    if (settings.silent) {
        return {};
    }
    Bytes out{TCO_START};
    const auto entry = settings.tco.find(index);
    if (entry != settings.tco.end()) {
        out.insert(out.end(), entry->second.begin(), entry->second.end());
    }
    out.push_back(TCO_END);
    return out;
}

}  // namespace trovkbd
