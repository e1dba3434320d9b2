// The speeds motiontape sends: the gentle common speed of the safe start, and each frame's
// speed that brings a servo from the previous frame's position to this one's in the frame's
// own time. Speeds are in the servo's own units (profile velocity or moving speed), never 0:
// 0 means "no limit" on these servos.
#ifndef MOTIONTAPE_SPEEDS_H
#define MOTIONTAPE_SPEEDS_H

// The gentle speed of a safe start: protocol 2.0, a quarter of the velocity limit register;
// protocol 1.0, 255 (about a quarter of the moving speed's range). At least 1.
int gentle_speed(int protocol, int velocityLimit);

// The speed that covers `steps` position steps in `ms` milliseconds, for a servo whose step is
// degreesPerStep and whose speed unit is rpmPerUnit: rounded up so the servo arrives in time,
// within 1 .. limit. No time at all (ms <= 0) gives the limit.
int frame_speed(int steps, double ms, double degreesPerStep, double rpmPerUnit, int limit);

// How far from its goal a servo may stand and count as arrived: about 1.4 degrees.
int arrival_tolerance(double degreesPerStep);

#endif
