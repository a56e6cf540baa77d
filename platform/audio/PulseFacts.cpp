#include "platform/audio/PulseFacts.h"

#include <algorithm>
#include <iterator>

namespace pondra {

namespace {

enum class Fact { HdmiPort, Bus, Api, Module };

struct TransportRule
{
    Fact fact;
    const char* value;
    const char* name;
};

// First match wins. PulseAudio describes HDMI and DisplayPort as one kind of
// port, so both read as "HDMI". A null sink that sets device.bus takes its bus.
constexpr TransportRule transportRules[] = {
    {Fact::HdmiPort, "", "HDMI"},
    {Fact::Bus, "bluetooth", "Bluetooth"},
    {Fact::Bus, "usb", "USB"},
    {Fact::Bus, "pci", "Built-in"},
    {Fact::Bus, "platform", "Built-in"},
    {Fact::Bus, "firewire", "FireWire"},
    {Fact::Api, "bluez", "Bluetooth"},
    {Fact::Api, "bluez5", "Bluetooth"},
    {Fact::Module, "module-null-sink", "Virtual"},
    {Fact::Module, "module-combine-sink", "Aggregate"},
    {Fact::Module, "module-raop-sink", "AirPlay"},
};

bool matches(const TransportRule& rule, const PulseSinkFacts& sink)
{
    switch (rule.fact) {
    case Fact::HdmiPort:
        return sink.hasHdmiPortActive;
    case Fact::Bus:
        return sink.bus == QLatin1String(rule.value);
    case Fact::Api:
        return sink.api == QLatin1String(rule.value);
    case Fact::Module:
        return sink.moduleName == QLatin1String(rule.value);
    }
    return false;
}

// PipeWire names the LE audio profiles "bap-sink", "bap-source", "bap-duplex".
bool isLeAudioProfile(const QString& profile)
{
    return profile.startsWith(QLatin1String("bap"));
}

template <typename List>
auto findByName(const List& list, const QString& name)
{
    return std::find_if(std::begin(list), std::end(list), [&](const auto& item) { return item.name == name; });
}

bool sharesCard(const PulseSourceFacts& source, const PulseSinkFacts& sink)
{
    if (source.card == noPulseIndex || source.card != sink.card)
        return false;
    // A headset plays and records through one device; a built-in card's
    // microphone is a device of its own beside the speakers.
    const QString type = transportTypeFor(sink);
    return type == QLatin1String("USB") || type.startsWith(QLatin1String("Bluetooth"));
}

} // namespace

QString transportTypeFor(const PulseSinkFacts& sink)
{
    for (const TransportRule& rule : transportRules) {
        if (!matches(rule, sink))
            continue;
        const QString name = QString::fromLatin1(rule.name);
        if (name == QLatin1String("Bluetooth") && isLeAudioProfile(sink.profile))
            return QStringLiteral("Bluetooth LE");
        return name;
    }
    return QStringLiteral("Other");
}

AudioSnapshot buildAudioSnapshot(const PulseServerFacts& facts)
{
    AudioSnapshot snapshot;
    const PulseSinkFacts* sink = nullptr;
    if (!facts.defaultSinkName.isEmpty()) {
        const auto it = findByName(facts.sinks, facts.defaultSinkName);
        if (it != facts.sinks.end())
            sink = &*it;
    }
    if (sink) {
        AudioOutputState output;
        if (!sink->description.isEmpty())
            output.name = sink->description;
        output.transportType = transportTypeFor(*sink);
        output.isRunning = sink->isRunning;
        output.volume = std::clamp(sink->volume, 0.0f, 1.0f);
        output.isMuted = sink->isMuted;
        snapshot.output = output;
    }
    if (!facts.defaultSourceName.isEmpty()) {
        const auto it = findByName(facts.sources, facts.defaultSourceName);
        if (it != facts.sources.end()) {
            AudioInputState input;
            input.isRunning = it->isRunning;
            input.isSameDeviceAsOutput =
                sink && ((it->monitorOfSink != noPulseIndex && it->monitorOfSink == sink->index) || sharesCard(*it, *sink));
            snapshot.input = input;
        }
    }
    return snapshot;
}

} // namespace pondra
