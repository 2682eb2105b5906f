#include "sim/uSimFaults.h"

#include "base/NumberText.h"

namespace zelto::sim {

bool ParseFaultRule(const std::string& Text, TFaultRule& Rule) {
    Rule = TFaultRule();
    if (Text.find('.') != std::string::npos) {
        double rate = 0;
        if (!TryParseDecimalNumber(Text, rate) || !(rate >= 0 && rate <= 1)) return false;
        Rule.Rate = rate;
        return true;
    }
    int32_t every = 0;
    if (!TryParseWholeNumber(Text, every) || every < 1) return false;
    Rule.Every = every;
    return true;
}

TSimFaults::TSimFaults(const TSimFaultOptions& Options) : fOptions(Options), fRandom(Options.Seed) {}

bool TSimFaults::Hits(const TFaultRule& Rule) {
    if (Rule.Every > 0 && fAnswers % static_cast<uint64_t>(Rule.Every) == 0) return true;
    if (Rule.Rate > 0) return std::uniform_real_distribution<double>(0, 1)(fRandom) < Rule.Rate;
    return false;
}

std::vector<TSimFaults::TDatagrams> TSimFaults::ApplyCopies(const std::vector<uint8_t>& Answer) {
    ++fAnswers;
    if (Hits(fOptions.Drop)) return {};
    TDatagrams datagrams{Answer};
    if (Hits(fOptions.Corrupt) && !Answer.empty()) datagrams[0].back() ^= 0xFF;  // high byte of the checksum
    if (Hits(fOptions.Split) && Answer.size() >= 4) {
        // Both halves carry bytes; the first holds the magic AA 55, so the receiver starts gathering.
        const auto half = static_cast<std::ptrdiff_t>(Answer.size() / 2);
        std::vector<uint8_t> tail(datagrams[0].begin() + half, datagrams[0].end());
        datagrams[0].resize(static_cast<std::size_t>(half));
        datagrams.push_back(std::move(tail));
    }
    std::vector<TDatagrams> copies{datagrams};
    if (Hits(fOptions.Duplicate)) copies.push_back(std::move(datagrams));
    return copies;
}

TSimFaults::TDatagrams TSimFaults::Apply(const std::vector<uint8_t>& Answer) {
    TDatagrams all;
    for (auto& copy : ApplyCopies(Answer))
        for (auto& datagram : copy) all.push_back(std::move(datagram));
    return all;
}

int TSimFaults::NextDelayMs() {
    if (fOptions.JitterMs <= 0) return fOptions.DelayMs;
    return fOptions.DelayMs + std::uniform_int_distribution<int>(0, fOptions.JitterMs)(fRandom);
}

}  // namespace zelto::sim
