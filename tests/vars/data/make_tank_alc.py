#!/usr/bin/env python3
# Writes tank_plant.alc: the allocation list of a tank plant controller as its programming tool leaves it
# (Windows-1252 text, CR LF line ends), used by the variable model tests. Run again after changing it.
import pathlib

lines = [
    "; Allocation list - Tankanlage Nord",
    "; Generated 2026-11-02 14:33:07",
    "; Columns: address flags count offset size scope type name description",
    "; Lines above the CPU marker are not parsed:\tnot even this malformed one",
    "junk line before the marker",
    "",
    ";CPU Zelto-2 NAD=10 Program=tank_v3",
    ";Addr Flags Count Offset Size Scope Type Name Description",
]
addr = 0x0000


def var(flags, count, size, scope, typ, name, desc=""):
    global addr
    line = f"{addr:04X} {flags:X} {count} 0 {size} {scope} {typ} {name}"
    if desc:
        line += " " + desc
    lines.append(line)
    addr += count * max(size, 1)


# Digital inputs and outputs: bits.
for i in range(24):
    var(2, 1, 1, "global", "bit", f"di_{i:02d}", f"Digitaleingang {i} ({'Schwimmer' if i % 2 else 'Endschalter'})")
for i in range(16):
    var(3 if i < 4 else 2, 1, 1, "global", "bit", f"do_{i:02d}", f"Digitalausgang {i}")
lines.append(";Addr analogue values")
# Analogue values: words, ints, reals, with units in Windows-1252 (°, ³, µ).
for i in range(20):
    var(3, 1, 2, "global", "word", f"ai_raw_{i}", f"Rohwert Analogeingang {i} (0..65535)")
for i in range(20):
    var(2, 1, 2, "global", "int", f"temp_{i}", f"Temperatur Fühler {i} in 0,1 °C")
for i in range(30):
    var(2, 1, 4, "global", "real", f"level_{i}", f"Füllstand Tank {i} in m³")
for i in range(15):
    var(0, 1, 4, "global", "long", f"sys_counter_{i}", "Systemzähler µs")
# Arrays.
var(3, 16, 2, "global", "word", "tab", "Schrittkette Sollwerte")
var(2, 8, 4, "global", "real", "curve", "Kennlinie Pumpe")
var(0, 10, 1, "global", "bit", "alarm", "Alarmbits")
var(2, 4, 2, "GLOBAL", "INT", "offsets", "Korrekturwerte")
var(1, 1, 4, "Global", "Long", "ops_hours", "Betriebsstunden")
# Timers and counters: listed but without a transferred value.
for i in range(12):
    var(2, 1, 4, "global", "timer", f"t_fill_{i}", f"Fülltimer {i}")
for i in range(8):
    var(2, 1, 4, "global", "counter", f"c_cycle_{i}", f"Zykluszähler {i}")
var(2, 1, 1, "global", "timerbit", "t_fill_0_q", "Timer abgelaufen")
var(2, 1, 4, "global", "timerlong", "t_long", "Langzeittimer")
var(2, 1, 1, "global", "counterbit", "c_cycle_0_q", "Zähler erreicht")
var(2, 1, 2, "global", "counterlong", "c_batches", "Chargen")
var(0, 1, 0, "global", "void", "main_task")
lines.append(";Addr locals, registers and constants: no variables")
for i in range(40):
    var(0, 1, 2, "local", "int", f"loc_{i}", "lokale Variable")
for i in range(10):
    var(0, 1, 4, "reg", "long", f"r{i}")
for i in range(30):
    var(0, 1, 2, "global", "const", f"K_{i}", f"Konstante {i}")
var(2, 0, 2, "global", "word", "empty_array", "Feld ohne Elemente")
for i in range(40):
    var(2, 1, 2, "global", "word", f"setpoint_{i}", f"Sollwert {i}")
lines.append("")
lines.append("END")

path = pathlib.Path(__file__).with_name("tank_plant.alc")
path.write_bytes(("\r\n".join(lines) + "\r\n").encode("cp1252"))
print(f"{len(lines)} lines written to {path}")
