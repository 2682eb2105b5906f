#pragma once
// Fault switches of the simulator, for testing how a client copes with a poor network: answers dropped,
// duplicated, corrupted (frame checksum broken) or split over two datagrams, each on every Nth answer or
// with a probability, and every answer delayed (by a fixed time, and by a random one of its own).
#include <cstdint>
#include <random>
#include <string>
#include <vector>

namespace zelto::sim {

// When a fault hits an answer: on every Nth answer (Every > 0), or with probability Rate (0..1).
struct TFaultRule {
    int Every = 0;
    double Rate = 0;

    bool Active() const { return Every > 0 || Rate > 0; }
};

// "N" (a whole number from 1) is every Nth answer; a number with a decimal point ("0.25") a probability
// from 0 to 1. False for anything else.
bool ParseFaultRule(const std::string& Text, TFaultRule& Rule);

struct TSimFaultOptions {
    TFaultRule Drop;
    TFaultRule Duplicate;
    TFaultRule Corrupt;
    TFaultRule Split;
    int DelayMs = 0;     // every answer waits this long before it is sent
    int JitterMs = 0;    // and each copy of it a random time from 0 to this many ms more
    uint32_t Seed = 1;   // of the probabilities, so that a run can be repeated
};

class TSimFaults {
public:
    explicit TSimFaults(const TSimFaultOptions& Options = {});

    using TDatagrams = std::vector<std::vector<uint8_t>>;
    // The copies to send of one answer frame, each the datagrams of one copy in order: none when it is
    // dropped; one copy, or two when duplicated; a copy is the frame with its checksum broken when
    // corrupted, two halves when split.
    std::vector<TDatagrams> ApplyCopies(const std::vector<uint8_t>& Answer);
    // The same, all copies one after the other.
    TDatagrams Apply(const std::vector<uint8_t>& Answer);
    int DelayMs() const { return fOptions.DelayMs; }
    bool Jitters() const { return fOptions.JitterMs > 0; }
    // How long the next copy waits: the delay and a random part of the jitter.
    int NextDelayMs();

private:
    bool Hits(const TFaultRule& Rule);

    TSimFaultOptions fOptions;
    std::mt19937 fRandom;
    uint64_t fAnswers = 0;  // answers seen, counting this one
};

}  // namespace zelto::sim
