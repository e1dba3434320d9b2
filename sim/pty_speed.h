// Line speed in bits per second that the client of a pseudo-terminal set; -1 on failure.
#ifndef PTY_SPEED_H
#define PTY_SPEED_H

long pty_line_speed(int master_fd);

#endif
