// The figures of whole connections against a far end, with TLS and plaintext: how long a connect
// takes, and how many jobs per second 16 masters get through, one blocking job in flight each.
#pragma once

#include <string>

class FarEnd;

// p50 and p99 of Drovik_Master_AddSlave, `count` connects per transport (at most 20 s in all),
// each connection removed after. Throws std::runtime_error when a connect fails.
void MeasureConnects(FarEnd &far, const std::string &knownServersFile, int count);
// Jobs per second of 16 masters for about `seconds` per transport, in alternating slices.
void MeasureThroughput(FarEnd &far, const std::string &knownServersFile, double seconds);
