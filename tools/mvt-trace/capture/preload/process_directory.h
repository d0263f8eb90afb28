#ifndef MVT_TRACE_CAPTURE_PRELOAD_PROCESS_DIRECTORY_H
#define MVT_TRACE_CAPTURE_PRELOAD_PROCESS_DIRECTORY_H

/* How a recording hands each process image a directory of its own inside
 * the run directory. Shared by `mvt-trace record`, which claims the first
 * one, and by the preload helper, which claims the others from inside the
 * traced processes. Everything here is made of system calls on caller-owned
 * buffers: the helper runs it between vfork() and exec, where the parent's
 * memory is shared and malloc or stdio could leave a lock taken. */

#include <stddef.h>

#ifdef __cplusplus
extern "C" {
#endif

/* The variables of the hand-over. */
#define MVT_RECORD_RUN_VARIABLE "MVT_RECORD_RUN"   /* absolute run directory; turns the helper on */
#define MVT_RECORD_NEXT_VARIABLE "MVT_RECORD_NEXT" /* "exec:PID:NAME" or "child:PID:NAME" */
#define MVT_RECORD_SELF_VARIABLE "MVT_RECORD_SELF" /* "PID:NAME": the image the environment came from */
#define MVT_TRACE_DIRECTORY_VARIABLE "MVA_DIR"

/* The files the helper leaves beside the trace files. */
#define MVT_PROCESS_FILE "mvt-process.txt"
#define MVT_MODULES_FILE "mvt-modules.txt"
/* Serialises the numbering of the process directories of one run. */
#define MVT_SEQUENCE_FILE ".mvt-sequence"

/* The part of a program's path that names its directory: the base name,
 * with characters other than letters, digits, '.', '_', '+' and '-' made
 * '_', at most 40 of them; "program" when nothing is left. */
void mvt_program_label(const char* path, char* label, size_t capacity);

/* Makes RUN/NNN-LABEL, NNN the next number of the run (001, 002, ...,
 * 1000, ...), and writes "NNN-LABEL" into `name`. 0 on success, else an
 * errno value. */
int mvt_claim_process_directory(const char* run, const char* label, char* name, size_t capacity);

/* Small formatting without stdio: each appends to `buffer` at `*used`,
 * keeping it NUL-terminated, and truncates silently at `capacity`. */
void mvt_append_text(char* buffer, size_t capacity, size_t* used, const char* text);
void mvt_append_decimal(char* buffer, size_t capacity, size_t* used, unsigned long long value);

#ifdef __cplusplus
}
#endif

#endif
