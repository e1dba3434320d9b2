// Reading a servo's control table in parts that fit the watchdog's window, and its registers
// by name.
#include "servo_image.h"

#include <cstring>

#include "bus_tools.h"
#include "model_reads.h"
#include "registers.h"
#include "servo_health.h"

static const int PING_TRIES = 3;
// A try of one part may take this long: ten of them stay well inside the watchdog's second.
static const int TRY_BUDGET_MS = 80;
// Bytes of a read's instruction and reply beyond the data (protocol 2.0: header, id, length,
// instruction, error, CRC, and room for a few stuffing bytes).
static const int PACKET_BYTES[3] = {0, 6 + 8, 11 + 14 + 8};
// The longest return delay a servo can be set to, and the bits of a byte on the line.
static const int RETURN_DELAY_MAX_US = 508;
static const int BITS_PER_BYTE = 10;
// A protocol 1.0 servo's table before its model is known: model 12's, which starts them all.
static const int PROTOCOL1_FIRST_PART = CONTROL_TABLE_SIZE;

// Bytes from address 0 to the end of the model's last register, the indirect ones left out
// (they only mirror others).
static int table_bytes(int model)
{
    int end = 0;
    const int count = kinetron_model_register_count(model);
    for (int i = 0; i < count; ++i) {
        const kinetron_register* reg = kinetron_model_register_at(model, i);
        if (std::strncmp(reg->name, "indirect_", 9) == 0)
            continue;
        if (reg->address + reg->size > end)
            end = reg->address + reg->size;
    }
    return end < IMAGE_BYTES_MAX ? end : IMAGE_BYTES_MAX;
}

// The longest part whose try, a time-out included, fits TRY_BUDGET_MS at the line's speed and
// the adapter's latency (the reply is collected for twice the latency, then a late one for
// one more).
static int part_bytes(int protocol)
{
    const int bps = bus_bps() > 0 ? bus_bps() : 1000000;
    const int latency = kinetron_latency_ms() > 0 ? kinetron_latency_ms() : 0;
    const long long wire_us =
        TRY_BUDGET_MS * 1000LL - RETURN_DELAY_MAX_US - (3LL * latency + 3) * 1000;
    const long long bytes = wire_us * bps / (BITS_PER_BYTE * 1000000LL) - PACKET_BYTES[protocol];
    const int most = protocol == 1 ? 253 : IMAGE_BYTES_MAX;
    if (bytes < 4)
        return 4;
    return bytes > most ? most : static_cast<int>(bytes);
}

// One part of the table with its tries, watched; false without a good reply.
static bool read_part(int id, int address, int count, ServoImage* image)
{
    const bool read = read_bytes_retry(image->protocol, id, address, count, image->bytes + address);
    exit_if_line_gone();
    image->code = bus_result();
    image->status = read ? kinetron_last_status() : -1;
    return read;
}

bool read_servo_image(int protocol, int id, int model, ServoImage* image)
{
    std::memset(image, 0, sizeof *image);
    image->protocol = protocol;
    image->model = model;
    image->table_model = model;
    image->firmware = -1;
    image->status = -1;
    int target = protocol == 1 ? PROTOCOL1_FIRST_PART : table_bytes(model);
    if (protocol == 2 && target == 0)
        return false;
    const int part = part_bytes(protocol);
    while (image->size < target) {
        const int count = target - image->size < part ? target - image->size : part;
        if (!read_part(id, image->size, count, image))
            return false;
        image->size += count;
        if (protocol == 1 && image->size >= ADDR_FIRMWARE + 1 && image->model < 0) {
            image->model = image->bytes[0] | image->bytes[1] << 8;
            image->firmware = image->bytes[ADDR_FIRMWARE];
            image->table_model =
                kinetron_model_protocol(image->model) == 1 ? image->model : FALLBACK_MODEL;
            target = table_bytes(image->table_model);
        }
    }
    if (image->firmware < 0) {
        const kinetron_register* reg = image_register(*image, "firmware_version");
        image->firmware = reg ? static_cast<int>(image_raw(*image, "firmware_version")) : -1;
    }
    return true;
}

const kinetron_register* image_register(const ServoImage& image, const char* name)
{
    return kinetron_model_register(image.table_model, name);
}

long long image_raw(const ServoImage& image, const char* name, long long absent)
{
    const kinetron_register* reg = image_register(image, name);
    if (!reg || reg->address + reg->size > image.size)
        return absent;
    return kinetron_register_decode(reg, image.bytes + reg->address);
}

const char* either_name(const ServoImage& image, const char* first, const char* second)
{
    return image_register(image, first) ? first : second;
}

double image_units(const ServoImage& image, const char* name)
{
    const kinetron_register* reg = image_register(image, name);
    if (!reg || reg->address + reg->size > image.size)
        return 0.0;
    return kinetron_to_units(reg, image_raw(image, name));
}

bool read_register(int protocol, int id, const kinetron_register* reg, long long* value)
{
    const bool read = read_register_retry(protocol, id, reg, value);
    exit_if_line_gone();
    return read;
}

int write_register(int protocol, int id, const kinetron_register* reg, long long value)
{
    unsigned char bytes[4];
    kinetron_register_encode(reg, value, bytes);
    const int code = bus_write(protocol, id, reg->address, reg->size, bytes);
    exit_if_line_gone();
    return code;
}

bool find_servo(int protocol, int id, ServoImage* image)
{
    if (protocol == 1)
        return read_servo_image(1, id, -1, image);
    int model = -1, firmware = -1;
    watched_exchange_begin();
    int code = RESULT_SENT;
    for (int tries = 0; tries < PING_TRIES && code != RESULT_SUCCESS; ++tries) {
        code = bus_ping(2, id, &model, &firmware);
        exit_if_line_gone();
    }
    watched_exchange_end();
    if (code != RESULT_SUCCESS) {
        std::memset(image, 0, sizeof *image);
        image->protocol = 2;
        image->model = -1;
        image->status = -1;
        image->code = code;
        return false;
    }
    const bool read = read_servo_image(2, id, model, image);
    image->firmware = firmware;
    return read;
}
