// The one status line a run keeps on standard error: rewritten in place on a terminal, a
// few times a second; elsewhere written once, at the end.
#ifndef MOTIONTAPE_STATUS_LINE_H
#define MOTIONTAPE_STATUS_LINE_H

void status_begin(void);
// Shows the text when the last showing is long enough ago (or always with force).
void status_show(const char* text, bool force);
// Wipes the row the status line stands on, so other output starts at its left; the next
// showing draws the line again.
void status_clear(void);
// Shows the text as the final state and ends the line.
void status_end(const char* text);

#endif
