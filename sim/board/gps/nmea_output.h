// NMEA 0183 sentences (version 2.3, GPS talker) of a navigation solution, as GPS receivers of
// the u-blox 6 class write them: positions to a hundred-thousandth of a minute, time to the
// hundredth of a second, empty fields where there is nothing to say yet.
#pragma once

#include <string>

#include "board/gps/gps_engine.h"

namespace sim {

enum class NmeaSentence { GGA, GLL, GSA, GSV, RMC, VTG };

// One sentence ("$GPGGA,...*hh\r\n"); GSV gives its whole cycle of one to four sentences.
std::string nmeaSentence(NmeaSentence which, const NavSolution& n);
// "$" + body + "*hh\r\n"
std::string nmeaFramed(const std::string& body);
// The checksum of a body (the characters between '$' and '*').
unsigned nmeaChecksum(const std::string& body);

}  // namespace sim
