#pragma once
// The live values of the demo program "Tank": a heated tank with a pump. While the program runs, each step
// moves the tank's variables in data memory the way the program would, so that a web page sees them change
// and a value a client writes (setpoint, mode, pump in manual mode) takes effect.
//
//   mode       0 off, 1 auto (the pump runs 20 s of every 30 s), 2 manual (the pump as written)
//   temp       moves toward setpoint while the pump runs, cools toward 18 °C while it stands
//   alarm      temp more than 5 °C above setpoint
//   level      a slow sine around 50 % (two minutes a period)
//   cycles     counts pump starts
//   scan_time  the last scan time in µs, different from scan to scan
//   trim, table  constant values (a negative int, a step table)
//
// The variables are found by name; an ALC without them simply has no live values.
#include <cstdint>

#include "sim/uSimMemory.h"
#include "vars/uZeltoVars.h"

namespace zelto::sim {

class TSimDemo {
public:
    // Borrows the program's variable list, which outlives the model.
    explicit TSimDemo(const TZeltoVarList& Vars);

    // The values the program starts with.
    void Start(TSimDataMemory& Data);
    // Advances the model by Seconds of run time.
    void Step(TSimDataMemory& Data, double Seconds);

    static constexpr double kAmbient = 18.0;      // °C
    static constexpr double kPumpPeriod = 30.0;   // s, of which the pump runs kPumpOnTime in auto mode
    static constexpr double kPumpOnTime = 20.0;
    static constexpr double kLevelPeriod = 120.0; // s

private:
    void Set(TSimDataMemory& Data, const TZeltoVar* Var, double Value) const;
    double Get(const TSimDataMemory& Data, const TZeltoVar* Var, double Otherwise) const;

    const TZeltoVar* fTemp;
    const TZeltoVar* fLevel;
    const TZeltoVar* fSetpoint;
    const TZeltoVar* fPump;
    const TZeltoVar* fAlarm;
    const TZeltoVar* fMode;
    const TZeltoVar* fCycles;
    const TZeltoVar* fTrim;
    const TZeltoVar* fScanTime;
    const TZeltoVarList& fVars;
    double fRunTime = 0;
    uint32_t fScans = 0;
    bool fPumpOn = false;  // the pump's state at the last step
};

}  // namespace zelto::sim
