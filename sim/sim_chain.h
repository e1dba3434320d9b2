/* The simulated servo chain behind a C seam. The bus library's in-process "sim" device
 * and the servosim program both drive one of these. */
#ifndef SIM_CHAIN_H
#define SIM_CHAIN_H

#ifdef __cplusplus
extern "C" {
#endif

typedef struct SimChain SimChain;

/* How long before a reply byte is due whoever waits for it stops sleeping and spins: a sleep
 * overshoots by tens of microseconds, more than timing=wire may be off. */
enum { SIM_SPIN_US = 150 };

/* Builds a chain from a comma-separated option list ("ids=1-18,baud=35,timing=wire");
 * NULL or "" gives every default. On an unknown option or a bad value returns NULL and
 * writes one line of explanation (no line feed) into err. */
SimChain* sim_chain_create(const char* options, char* err, int err_size);
void sim_chain_destroy(SimChain* chain);

/* Bytes the client put on the line at `bps` bits per second. Packets of both protocols are
 * parsed out of the stream (a packet may arrive in pieces); every servo of that protocol
 * listening at that speed and addressed acts on it and answers (several in turn for a
 * group read or a protocol 2.0 PING to every servo); replies are queued with the line faults applied and
 * colliding replies garbled. With timing=wire every queued byte carries the moment it is
 * due. With stall=ID a READ of that id never returns (a sleep loop). */
void sim_chain_feed(SimChain* chain, const unsigned char* bytes, int count, long bps);

/* Copies up to `size` reply bytes that are due by now into buffer; returns the count. */
int sim_chain_take(SimChain* chain, unsigned char* buffer, int size);

/* Microseconds until the next queued reply byte is due: 0 when one is due now, -1 when
 * nothing is queued. */
long sim_chain_next_due_us(SimChain* chain);

/* Drops every queued reply byte. */
void sim_chain_discard(SimChain* chain);

/* The latency timer (ms) of the USB chip that replies pass with "latency=MS": they reach
 * the host when it runs out or when 62 bytes wait, at 1 ms USB frames. 0: no chip. */
int sim_chain_usb_latency_ms(SimChain* chain);

/* Decoded trace of every packet (and the line speed it went at) on standard error:
 * on when the options held "trace", or when switched on here. */
void sim_chain_set_trace(SimChain* chain, int enabled);

/* Replaces the chain's clock (microseconds, monotonic) with one the caller drives: tests
 * use it to step the servos' motion. NULL restores the real clock. */
typedef long long (*SimClock)(void* context);
void sim_chain_set_clock(SimChain* chain, SimClock clock, void* context);

#ifdef __cplusplus
}
#endif

#endif
