// One servo's control table as servocheck reads it, for every model: the bytes from address
// 0 up to its last register (the indirect registers left out), read in parts small enough
// that every read, with its tries, ends inside the watchdog's window at any line speed; its
// registers looked up by name in the model table.
#ifndef SERVOCHECK_SERVO_IMAGE_H
#define SERVOCHECK_SERVO_IMAGE_H

#include "kinetron.h"

enum { IMAGE_BYTES_MAX = 256, PROTOCOL2_ALERT = 0x80 };

struct ServoImage {
    int protocol;
    int model;       // as the servo reports it
    int table_model; // the model whose table reads it: a protocol 1.0 model the kit does not
                     // know is read as model 12
    int firmware;
    unsigned char bytes[IMAGE_BYTES_MAX];
    int size;   // bytes read, from address 0
    int status; // the error byte of the last reply; -1 without one
    int code;   // bus_result() of the last try
};

// Reads servo id's table. model: from its PING (protocol 2.0), or -1 to take it from the
// table (protocol 1.0). False without a good reply (then image->code tells why), and for a
// protocol 2.0 model the kit does not know (image->size 0).
bool read_servo_image(int protocol, int id, int model, ServoImage* image);

// Finds servo id on the line that is set: protocol 1.0 reads its table; protocol 2.0 pings it
// (up to three tries) for its model, then reads its table. False when it does not answer
// (image->code tells why, image->model is -1) or its model is one the kit does not know.
bool find_servo(int protocol, int id, ServoImage* image);

// The model's register of that name, NULL where the model lacks it.
const kinetron_register* image_register(const ServoImage& image, const char* name);
// The register's value as a number (signed and direction-bit registers read negative), or
// absent where the model lacks it or it was not read.
long long image_raw(const ServoImage& image, const char* name, long long absent = -1);
// The first of two names the model has (tables name some registers differently).
const char* either_name(const ServoImage& image, const char* first, const char* second);
// The value in the register's unit; 0 where the model lacks it.
double image_units(const ServoImage& image, const char* name);

// One register read from the servo, tries as for a read with retry, watched; false when no
// good reply came.
bool read_register(int protocol, int id, const kinetron_register* reg, long long* value);
// One register written; the result code.
int write_register(int protocol, int id, const kinetron_register* reg, long long value);

// Model 12: what a protocol 1.0 servo's table is read as when its model is unknown.
enum { FALLBACK_MODEL = 12 };

#endif
