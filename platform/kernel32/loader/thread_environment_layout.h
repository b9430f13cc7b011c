/* Where things lie in a thread environment block (thread_environment.h),
   shared by thread_environment.cpp and the checked stubs' assembly
   (checked_import_call.S), so plain defines only. Offsets count from the
   block's start, which is also the base of the %fs segment. */
#pragma once

/* What Windows code sees: the NT_TIB and the TEB fields after it. */
#define QX_TEB_EXCEPTION_LIST 0x00
#define QX_TEB_STACK_BASE 0x04
#define QX_TEB_STACK_LIMIT 0x08
#define QX_TEB_SELF 0x18
#define QX_TEB_PROCESS_ID 0x20
#define QX_TEB_THREAD_ID 0x24
#define QX_TEB_TLS_POINTER 0x2C
#define QX_TEB_PEB 0x30

/* The one field of the process environment block the loader fills. */
#define QX_PEB_PROCESS_HEAP 0x18

/* The platform's page, after the one Windows code sees. */
#define QX_TEB_PRIVATE 0x1000
/* The glibc thread pointer (%gs:0) of the thread the block belongs to; 0
   while the block is free. %fs may still reach a block that is not the
   calling thread's (a thread inherits its creator's descriptor and
   selector), so a stub compares this with %gs:0 before it trusts it. */
#define QX_TEB_OWNER 0x1000
/* The offset of the first free entry of the stubs' stack. */
#define QX_TEB_THUNK_TOP 0x1004
/* Mismatches the stubs have found on this block's thread; only that thread
   writes it. */
#define QX_TEB_MISMATCHES 0x1008
/* The array ThreadLocalStoragePointer starts out pointing at. */
#define QX_TEB_TLS_SLOTS 0x1040
/* The stubs' stack: 8-byte entries (the image's return address, then the
   stack pointer it must get back), growing upwards to the block's end. */
#define QX_TEB_THUNK_STACK 0x1100
#define QX_TEB_THUNK_ENTRY 8
#define QX_TEB_SIZE 0x2000
