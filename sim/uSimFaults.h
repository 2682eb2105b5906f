#pragma once
// Fault switches of the simulator, for testing how a client copes with a poor network: answers dropped,
// duplicated, corrupted (frame checksum broken) or split over two datagrams, each on every Nth answer or
// with a probability, and every answer delayed.
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
    uint32_t Seed = 1;   // of the probabilities, so that a run can be repeated
};

class TSimFaults {
public:
    explicit TSimFaults(const TSimFaultOptions& Options = {});

    // The datagrams to send for one answer frame, in order: none when it is dropped; the frame with its
    // checksum broken when corrupted; two halves when split; all of it twice when duplicated.
    std::vector<std::vector<uint8_t>> Apply(const std::vector<uint8_t>& Answer);
    int DelayMs() const { return fOptions.DelayMs; }

private:
    bool Hits(const TFaultRule& Rule);

    TSimFaultOptions fOptions;
    std::mt19937 fRandom;
    uint64_t fAnswers = 0;  // answers seen, counting this one
};

}  // namespace zelto::sim
