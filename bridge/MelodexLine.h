#pragma once

#include <cstddef>
#include <string>

namespace melodex {

/// What one call found out; texts are UTF-8, empty when unknown.
struct NowPlaying
{
    bool playing = false;
    std::string title;
    std::string artist;
    std::string album;
};

/// Longest written form of one text inside the line, in bytes.
inline constexpr std::size_t kMaxTextBytes = 4096;

/// `text` written as a JSON string body: quotes, backslashes and control
/// characters escaped, "/" as "\/", everything else as UTF-8; cut at a
/// character boundary so the written form is at most kMaxTextBytes.
std::string jsonStringBody(const std::string& text);

/// The compact one-object answer line, without the line feed.
std::string answerLine(const NowPlaying& state);

} // namespace melodex
