// servocheck fix ID: undoing a shutdown on either protocol.
#ifndef SERVOCHECK_FIX_SERVO_H
#define SERVOCHECK_FIX_SERVO_H

#include "servo_health.h"

// Looks for servo id on each of the lines in turn and fixes it on the first where it
// answers; the status of the run.
int fix_servo(int id, const LineSetting* lines, int count);

#endif
