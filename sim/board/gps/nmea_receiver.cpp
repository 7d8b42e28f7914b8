#include "board/gps/nmea_receiver.h"

#include "board/gps/nmea_output.h"

namespace sim {

void NmeaReceiver::onEpoch(const NavSolution& n) {
  for (NmeaSentence s : {NmeaSentence::GGA, NmeaSentence::GLL, NmeaSentence::GSA, NmeaSentence::GSV,
                         NmeaSentence::RMC, NmeaSentence::VTG}) {
    emit(nmeaSentence(s, n));
  }
}

}  // namespace sim
