// servocheck fix: a servo shut down by its alarms brought back, limp, with its goal where it
// stands. Protocol 1.0 servos come back when their torque limit is written back; protocol
// 2.0 servos only through a REBOOT, sent once the causes that can be measured are gone.
#include "fix_servo.h"

#include <cstdio>

#include "bus_tools.h"
#include "console.h"
#include "registers.h"

// A rebooting servo answers again within about a second; it gets three.
static const unsigned REBOOT_WAIT_MS = 3000;
static const int REBOOT_POLL_MS = 50;

// The advice a fix closes with, when the servo reports no alarm.
static void close_fix(int id, const LineSetting& line, const ServoImage& image)
{
    report_servo_health(id, line, image);
    advise_return_delays();
    if (problems_reported() > 0)
        return;
    if (line.protocol == 1 && line.baudnum >= 0)
        std::printf("servo %d: no alarm; switch its torque on when ready: holdswitch %d %d 1\n", id,
                    id, line.baudnum);
    else
        std::printf("servo %d: no alarm; switch its torque on when ready: servoreg --bps %d %d "
                    "torque_enable 1\n",
                    id, line.bps, id);
}

// The goal becomes where the servo stands, so that torque coming back moves nothing. False
// when its present position did not come (then nothing is written).
static bool goal_where_it_stands(int id, const LineSetting& line, const ServoImage& image,
                                 long long old_goal)
{
    const kinetron_register* present = image_register(image, "present_position");
    const kinetron_register* goal = image_register(image, "goal_position");
    const kinetron_register* torque = image_register(image, "torque_enable");
    long long position = 0;
    if (!read_register(line.protocol, id, present, &position)) {
        report(id, "its present position did not come (code %d): nothing written", bus_result());
        return false;
    }
    write_register(line.protocol, id, torque, 0);
    write_register(line.protocol, id, goal, position);
    // On protocol 1.0 writing the goal switches the torque on: off again.
    write_register(line.protocol, id, torque, 0);
    std::printf("servo %d: goal position %lld -> %lld (where it stands)\n", id, old_goal, position);
    return true;
}

// Protocol 1.0: with the goal where it stands and the torque off, the torque limit back from
// the maximum torque.
static int fix_protocol1(int id, const LineSetting& line, ServoImage& image)
{
    const long long torque_limit = image_raw(image, "torque_limit");
    const long long max_torque = image_raw(image, "max_torque");
    if (torque_limit != 0) {
        std::printf("servo %d: torque limit %lld, not shut down: nothing to undo\n", id,
                    torque_limit);
    } else if (max_torque == 0 && line.baudnum >= 0) {
        report(id,
               "its maximum torque is 0 too: write it first, for instance with: "
               "regword %d %d %d 1023",
               id, line.baudnum, ADDR_MAX_TORQUE);
        return 1;
    } else if (max_torque == 0) {
        report(id,
               "its maximum torque is 0 too: write it first, for instance with: "
               "servoreg --bps %d %d max_torque 1023",
               line.bps, id);
        return 1;
    } else {
        // A goal written while it was limp would make the servo spring there the moment its
        // limit came back.
        if (!goal_where_it_stands(id, line, image, image_raw(image, "goal_position")))
            return 1;
        write_register(1, id, image_register(image, "torque_limit"), max_torque);
        std::printf("servo %d: torque off; torque limit 0 -> %lld (its maximum torque)\n", id,
                    max_torque);
    }
    if (!read_servo_image(1, id, -1, &image)) {
        report(id, "no reply after the fix (code %d)", image.code);
        return 1;
    }
    close_fix(id, line, image);
    return problems_reported() > 0 ? 1 : 0;
}

// The causes of a shutdown that can be measured and still stand: each gets a line. True when
// none remains.
static bool causes_gone(int id, const ServoImage& image)
{
    const long long temperature = image_raw(image, "present_temperature");
    const long long temperature_limit = image_raw(image, "temperature_limit");
    const double voltage = image_units(image, "present_input_voltage");
    const double low = image_units(image, "min_voltage_limit");
    const double high = image_units(image, "max_voltage_limit");
    bool gone = true;
    if (temperature > temperature_limit) {
        report(id,
               "still too hot: %lld C, above its limit of %lld C; let it cool, then run the "
               "fix again (no REBOOT sent)",
               temperature, temperature_limit);
        gone = false;
    }
    if (voltage < low - 0.05 || voltage > high + 0.05) {
        report(id,
               "supply voltage %.1f V, still outside its limits %.1f..%.1f V; fix the "
               "supply, then run the fix again (no REBOOT sent)",
               voltage, low, high);
        gone = false;
    }
    return gone;
}

// Pings until the rebooted servo answers; false when it stays silent.
static bool answers_again(int id)
{
    const unsigned start = GetTickCount();
    do {
        Sleep(REBOOT_POLL_MS);
        watched_exchange_begin();
        const int code = bus_ping(2, id, nullptr, nullptr);
        exit_if_line_gone();
        watched_exchange_end();
        if (code == RESULT_SUCCESS)
            return true;
    } while (GetTickCount() - start < REBOOT_WAIT_MS);
    return false;
}

// Protocol 2.0: no REBOOT while a cause it can measure remains; after it, the goal where the
// servo stands, the torque off as a REBOOT leaves it.
static int fix_protocol2(int id, const LineSetting& line, ServoImage& image)
{
    if (hardware_errors(image) == 0 && !(image.status >= 0 && (image.status & PROTOCOL2_ALERT))) {
        std::printf("servo %d: no hardware error, not shut down: nothing to undo\n", id);
    } else {
        if (!causes_gone(id, image))
            return 1;
        const long long old_goal = image_raw(image, "goal_position");
        bus_reboot(id);
        exit_if_line_gone();
        if (!answers_again(id)) {
            report(id, "sent REBOOT, but it did not answer again within %u s",
                   REBOOT_WAIT_MS / 1000);
            return 1;
        }
        std::printf("servo %d: rebooted; it answers again, torque off\n", id);
        if (!read_servo_image(2, id, image.model, &image)) {
            report(id, "no reply after the REBOOT (code %d)", image.code);
            return 1;
        }
        if (!goal_where_it_stands(id, line, image, old_goal))
            return 1;
    }
    if (!read_servo_image(2, id, image.model, &image)) {
        report(id, "no reply after the fix (code %d)", image.code);
        return 1;
    }
    close_fix(id, line, image);
    return problems_reported() > 0 ? 1 : 0;
}

int fix_servo(int id, const LineSetting* lines, int count)
{
    ServoImage image;
    for (int i = 0; i < count; ++i) {
        if (!set_line(lines[i]))
            return 1;
        if (find_servo(lines[i].protocol, id, &image))
            return lines[i].protocol == 1 ? fix_protocol1(id, lines[i], image)
                                          : fix_protocol2(id, lines[i], image);
        if (image.model >= 0 && kinetron_model_protocol(image.model) == 0) {
            report(id, "model %d, which the kit's model table does not know", image.model);
            return 1;
        }
        if (image.model >= 0) {
            report(id, "answers, but its control table did not come (code %d)", image.code);
            return 1;
        }
    }
    if (count == 1 && lines[0].protocol == 1 && lines[0].baudnum >= 0)
        report(id, "no reply at baud number %d (code %d)", lines[0].baudnum, image.code);
    else
        report(id, "no reply at %s", describe_lines(lines, count));
    return 1;
}
