#include "MelodexLine.h"

#include <algorithm>
#include <cstdio>

namespace melodex {

namespace {

// Length of the UTF-8 sequence that starts with `lead`. libdbus hands us
// validated UTF-8; a stray byte still counts as one character.
std::size_t sequenceLength(unsigned char lead)
{
    if (lead >= 0xF0 && lead < 0xF8)
        return 4;
    if (lead >= 0xE0)
        return lead < 0xF0 ? 3 : 1;
    if (lead >= 0xC0)
        return 2;
    return 1;
}

std::string escaped(unsigned char c)
{
    switch (c) {
    case '"': return "\\\"";
    case '\\': return "\\\\";
    case '/': return "\\/";
    case '\b': return "\\b";
    case '\f': return "\\f";
    case '\n': return "\\n";
    case '\r': return "\\r";
    case '\t': return "\\t";
    default: break;
    }
    if (c < 0x20) {
        char buffer[8];
        std::snprintf(buffer, sizeof buffer, "\\u%04x", unsigned(c));
        return buffer;
    }
    return std::string(1, char(c));
}

} // namespace

std::string jsonStringBody(const std::string& text)
{
    std::string out;
    out.reserve(std::min(text.size(), kMaxTextBytes));
    for (std::size_t i = 0; i < text.size();) {
        const auto lead = static_cast<unsigned char>(text[i]);
        const std::size_t length = std::min(sequenceLength(lead), text.size() - i);
        const std::string piece = length == 1 ? escaped(lead) : text.substr(i, length);
        if (out.size() + piece.size() > kMaxTextBytes)
            break;
        out += piece;
        i += length;
    }
    return out;
}

std::string answerLine(const NowPlaying& state)
{
    std::string line = "{\"playing\":";
    line += state.playing ? "true" : "false";
    line += ",\"title\":\"" + jsonStringBody(state.title);
    line += "\",\"artist\":\"" + jsonStringBody(state.artist);
    line += "\",\"album\":\"" + jsonStringBody(state.album);
    line += "\"}";
    return line;
}

} // namespace melodex
