/* A program of your own on a mixed chain: protocol 1.0 servos at baud number 35 and protocol
 * 2.0 servos at 1,000,000 bps on one line, every register by name through the model table.
 *
 *   every_model <first 1.0 id> <last 1.0 id> <first 2.0 id> <last 2.0 id>
 *
 * Pings every servo and prints its model and present position in degrees, reads the
 * protocol 2.0 servos' positions in one SYNC_READ, moves the middle one with torque on, and
 * shows that its id cannot be written while its torque is on. Try it with
 * KINETRON_DEVICE=sim:ids=1-3+4-6#1060 every_model 1 3 4 6. Exits 0, or 1 naming what
 * failed. */
#include <stdio.h>
#include <stdlib.h>

#include <kinetron/kinetron.h>
#include <kinetron/registers.h>

static int fail(const char* what)
{
    printf("%s (result code %d)\n", what, bus_result());
    bus_close();
    return 1;
}

/* Reads a register by name and prints it in its unit; 0 on failure. */
static int show(int protocol, int id, int model, const char* name)
{
    const kinetron_register* reg = kinetron_model_register(model, name);
    unsigned char bytes[4];
    if (reg == NULL || bus_read(protocol, id, reg->address, reg->size, bytes) != RESULT_SUCCESS)
        return 0;
    printf("servo %d: protocol %d model %d %s %.1f %s\n", id, protocol, model, name,
           kinetron_to_units(reg, kinetron_register_decode(reg, bytes)), reg->unit);
    return 1;
}

int main(int argc, char** argv)
{
    int first1 = argc > 4 ? atoi(argv[1]) : 1, last1 = argc > 4 ? atoi(argv[2]) : 3;
    int first2 = argc > 4 ? atoi(argv[3]) : 4, last2 = argc > 4 ? atoi(argv[4]) : 6;
    int ids[253], models[253], n = 0, id, model, k;
    unsigned char positions[253 * 4], value[4], new_id = 9;
    const kinetron_register *goal, *present, *torque, *id_register;

    if (!bus_open())
        return 1;
    bus_change_baud(35);
    for (id = first1; id <= last1; id++) {
        if (bus_ping(1, id, &model, NULL) != RESULT_SUCCESS || !show(1, id, model, "present_position"))
            return fail("a protocol 1.0 servo does not answer");
    }
    if (!bus_set_bps(1000000))
        return fail(kinetron_last_error());
    for (id = first2; id <= last2 && n < 253; id++, n++) {
        ids[n] = id;
        if (bus_ping(2, id, &models[n], NULL) != RESULT_SUCCESS ||
            !show(2, id, models[n], "present_position"))
            return fail("a protocol 2.0 servo does not answer");
    }
    present = kinetron_model_register(models[0], "present_position");
    if (bus_sync_read(0, n, ids, present->address, present->size, positions, NULL, NULL) != n)
        return fail("the SYNC_READ missed a servo");
    printf("one SYNC_READ:");
    for (k = 0; k < n; k++)
        printf(" %d:%lld", ids[k], kinetron_register_decode(present, positions + 4 * k));
    printf("\n");

    /* Torque on, then a goal 30 degrees on: protocol 2.0 servos move only with torque on. */
    id = ids[n / 2];
    torque = kinetron_model_register(models[n / 2], "torque_enable");
    goal = kinetron_model_register(models[n / 2], "goal_position");
    id_register = kinetron_model_register(models[n / 2], "id");
    value[0] = 1;
    bus_write(2, id, torque->address, 1, value);
    kinetron_register_encode(goal,
                             kinetron_register_decode(present, positions + 4 * (n / 2)) +
                                 kinetron_from_units(goal, 30.0),
                             value);
    if (bus_write(2, id, goal->address, goal->size, value) != RESULT_SUCCESS ||
        kinetron_last_status() != 0)
        return fail("the goal was refused");
    printf("servo %d: goal written with torque on\n", id);
    bus_write(2, id, id_register->address, 1, &new_id);
    printf("servo %d: writing its id with torque on: error number %d%s\n", id,
           kinetron_last_status() & 0x7F,
           (kinetron_last_status() & 0x7F) == 7 ? " (access error)" : "");
    bus_close();
    return 0;
}
