// The session record: the running process described as a session in
// fixed-length blank-padded fields.  State 1 initial, 2 filled, 3 rearranged.
#pragma once
#include <cstdint>

struct TssStat {
    uint16_t state;
    int16_t reserved;
    int16_t session;
    char program[8];
    char kind;
    char user[12];
    char terminal[20];
    char longProgram[40];
    char termKind[2];
    char flag;
    char reserved2;
    char client[3];
    char display[8];
    char login[16];
    int32_t pid;
};

extern TssStat tsstst;

// In state 1 fills the record (program may be null); in any state a blank
// program field is set from the argument.
void tsstst_fill(const char* program);
void tsstst_refresh();
void tsstst_switch();
void tsstst_store_pid();
