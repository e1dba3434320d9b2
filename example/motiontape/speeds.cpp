// Speeds in the servos' own units.
#include "speeds.h"

#include <cmath>
#include <cstdlib>

enum { PROTOCOL1_GENTLE_SPEED = 255 };

int gentle_speed(int protocol, int velocityLimit)
{
    int speed = protocol == 2 ? velocityLimit / 4 : PROTOCOL1_GENTLE_SPEED;
    if (protocol != 2 && velocityLimit > 0 && speed > velocityLimit)
        speed = velocityLimit;
    return speed < 1 ? 1 : speed;
}

int frame_speed(int steps, double ms, double degreesPerStep, double rpmPerUnit, int limit)
{
    if (limit < 1)
        limit = 1;
    if (!(ms > 0.0) || !(rpmPerUnit > 0.0))
        return limit;
    // steps x degrees / 360 turns in ms / 60000 minutes.
    double rpm = std::abs(steps) * degreesPerStep / 360.0 * 60000.0 / ms;
    double units = std::ceil(rpm / rpmPerUnit - 1e-9);
    if (!(units < limit))
        return limit;
    return units < 1.0 ? 1 : static_cast<int>(units);
}

int arrival_tolerance(double degreesPerStep)
{
    if (!(degreesPerStep > 0.0))
        return 4;
    int steps = static_cast<int>(1.4 / degreesPerStep);
    return steps < 1 ? 1 : steps;
}
