#include "sim/uSimDemo.h"

#include <cmath>
#include <numbers>

namespace zelto::sim {

namespace {

constexpr double kHeatTime = 8.0;   // s: time constant of heating toward the setpoint
constexpr double kCoolTime = 60.0;  // s: time constant of cooling toward the ambient temperature
constexpr double kAlarmMargin = 5.0;

}  // namespace

TSimDemo::TSimDemo(const TZeltoVarList& Vars)
    : fTemp(Vars.FindByName("temp")),
      fLevel(Vars.FindByName("level")),
      fSetpoint(Vars.FindByName("setpoint")),
      fPump(Vars.FindByName("pump")),
      fAlarm(Vars.FindByName("alarm")),
      fMode(Vars.FindByName("mode")),
      fCycles(Vars.FindByName("cycles")),
      fTrim(Vars.FindByName("trim")),
      fScanTime(Vars.FindByName("scan_time")),
      fVars(Vars) {}

void TSimDemo::Set(TSimDataMemory& Data, const TZeltoVar* Var, double Value) const {
    if (Var != nullptr) Data.SetNumber(*Var, Value);
}

double TSimDemo::Get(const TSimDataMemory& Data, const TZeltoVar* Var, double Otherwise) const {
    return Var != nullptr ? Data.Number(*Var) : Otherwise;
}

void TSimDemo::Start(TSimDataMemory& Data) {
    fRunTime = 0;
    fScans = 0;
    fPumpOn = true;
    Set(Data, fTemp, kAmbient);
    Set(Data, fSetpoint, 45.0);
    Set(Data, fMode, 1);
    Set(Data, fPump, 1);
    Set(Data, fCycles, 1);
    Set(Data, fTrim, -12);
    Set(Data, fLevel, 50.0);
    Set(Data, fScanTime, 850);
    // Every element of the step table "table" its own value: 10, 20, 30 ...
    for (const TZeltoVar* v : fVars)
        if (v->Name() == "table") Data.SetNumber(*v, 10.0 * (v->ArrayIndex() + 1));
}

void TSimDemo::Step(TSimDataMemory& Data, double Seconds) {
    if (Seconds <= 0) return;
    fRunTime += Seconds;
    ++fScans;
    const double setpoint = Get(Data, fSetpoint, 45.0);
    const auto mode = static_cast<int>(Get(Data, fMode, 1));
    // In manual mode the pump is what a client wrote; the start is counted all the same.
    bool on = Get(Data, fPump, 0) != 0;
    if (mode == 0) on = false;
    if (mode == 1) on = std::fmod(fRunTime, kPumpPeriod) < kPumpOnTime;
    Set(Data, fPump, on ? 1 : 0);
    if (on && !fPumpOn) Set(Data, fCycles, Get(Data, fCycles, 0) + 1);
    fPumpOn = on;

    double temp = Get(Data, fTemp, kAmbient);
    const double target = on ? setpoint : kAmbient;
    const double timeConstant = on ? kHeatTime : kCoolTime;
    temp += (target - temp) * (1.0 - std::exp(-Seconds / timeConstant));
    Set(Data, fTemp, temp);
    Set(Data, fAlarm, temp > setpoint + kAlarmMargin ? 1 : 0);
    Set(Data, fLevel, 50.0 + 25.0 * std::sin(2 * std::numbers::pi * fRunTime / kLevelPeriod));
    Set(Data, fScanTime, 800 + (fScans * 37) % 200);
}

}  // namespace zelto::sim
