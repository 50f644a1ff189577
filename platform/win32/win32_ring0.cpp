#include "platform/win32/win32_ring0.h"

#include <windows.h>

namespace sfh56::win32 {

namespace {

// Where a guarded call resumes after a fault: the stack position just after the call's
// registers were saved, the address of its failure path, and (32-bit) the head of the
// thread's exception-registration chain, which the failure path puts back.
struct ResumePoint {
  uintptr_t stack = 0;
  uintptr_t resume = 0;
  uintptr_t registration_chain = 0;
};

// One guarded call at a time, on the receiver thread.
ResumePoint g_resume_point;
DWORD g_guarded_thread = 0;
volatile LONG g_guard_armed = 0;
LPTOP_LEVEL_EXCEPTION_FILTER g_previous_filter = nullptr;

// The filter in place during a guarded call: a fault of the guarded thread resumes at the
// call's failure path with the stack as it was; anything else goes to the filter that was
// in place before.
LONG WINAPI GuardFilter(EXCEPTION_POINTERS* info) {
  if (g_guard_armed == 0 || GetCurrentThreadId() != g_guarded_thread) {
    return g_previous_filter != nullptr ? g_previous_filter(info) : EXCEPTION_CONTINUE_SEARCH;
  }
  CONTEXT* context = info->ContextRecord;
#if defined(_WIN64)
  context->Rsp = g_resume_point.stack;
  context->Rip = g_resume_point.resume;
#else
  context->Esp = g_resume_point.stack;
  context->Eip = g_resume_point.resume;
#endif
  context->EFlags &= ~0x400u;  // the direction flag, clear as the calling convention wants
  return EXCEPTION_CONTINUE_EXECUTION;
}

}  // namespace

// int sfh_guarded_call(call, context, int32_t* result, ResumePoint* point): saves the
// callee-saved registers, notes the resume point, calls call(context) and stores its
// result; 1 when the call returned, 0 when the filter resumed at the failure path.
extern "C" int sfh_guarded_call(platform::Ring0Access::GuardedCall call, void* context,
                                int32_t* result, ResumePoint* point);

#if defined(_WIN64)
asm(R"(
    .text
    .globl sfh_guarded_call
    .def sfh_guarded_call; .scl 2; .type 32; .endef
    .seh_proc sfh_guarded_call
sfh_guarded_call:
    pushq %rbp
    .seh_pushreg %rbp
    pushq %rbx
    .seh_pushreg %rbx
    pushq %rdi
    .seh_pushreg %rdi
    pushq %rsi
    .seh_pushreg %rsi
    pushq %r12
    .seh_pushreg %r12
    pushq %r13
    .seh_pushreg %r13
    pushq %r14
    .seh_pushreg %r14
    pushq %r15
    .seh_pushreg %r15
    subq $200, %rsp
    .seh_stackalloc 200
    movaps %xmm6, 32(%rsp)
    .seh_savexmm %xmm6, 32
    movaps %xmm7, 48(%rsp)
    .seh_savexmm %xmm7, 48
    movaps %xmm8, 64(%rsp)
    .seh_savexmm %xmm8, 64
    movaps %xmm9, 80(%rsp)
    .seh_savexmm %xmm9, 80
    movaps %xmm10, 96(%rsp)
    .seh_savexmm %xmm10, 96
    movaps %xmm11, 112(%rsp)
    .seh_savexmm %xmm11, 112
    movaps %xmm12, 128(%rsp)
    .seh_savexmm %xmm12, 128
    movaps %xmm13, 144(%rsp)
    .seh_savexmm %xmm13, 144
    movaps %xmm14, 160(%rsp)
    .seh_savexmm %xmm14, 160
    movaps %xmm15, 176(%rsp)
    .seh_savexmm %xmm15, 176
    .seh_endprologue
    movq %r8, 192(%rsp)
    movq %rsp, (%r9)
    leaq 1f(%rip), %rax
    movq %rax, 8(%r9)
    movq %rcx, %rax
    movq %rdx, %rcx
    callq *%rax
    movq 192(%rsp), %rcx
    movl %eax, (%rcx)
    movl $1, %eax
    jmp 2f
1:  xorl %eax, %eax
2:  movaps 32(%rsp), %xmm6
    movaps 48(%rsp), %xmm7
    movaps 64(%rsp), %xmm8
    movaps 80(%rsp), %xmm9
    movaps 96(%rsp), %xmm10
    movaps 112(%rsp), %xmm11
    movaps 128(%rsp), %xmm12
    movaps 144(%rsp), %xmm13
    movaps 160(%rsp), %xmm14
    movaps 176(%rsp), %xmm15
    addq $200, %rsp
    popq %r15
    popq %r14
    popq %r13
    popq %r12
    popq %rsi
    popq %rdi
    popq %rbx
    popq %rbp
    ret
    .seh_endproc
)");
#else
asm(R"(
    .text
    .globl _sfh_guarded_call
    .def _sfh_guarded_call; .scl 2; .type 32; .endef
_sfh_guarded_call:
    pushl %ebp
    pushl %ebx
    pushl %esi
    pushl %edi
    movl 32(%esp), %eax
    movl %esp, (%eax)
    movl $1f, 4(%eax)
    movl %fs:0, %ecx
    movl %ecx, 8(%eax)
    pushl 24(%esp)
    call *24(%esp)
    addl $4, %esp
    movl 28(%esp), %ecx
    movl %eax, (%ecx)
    movl $1, %eax
    jmp 2f
1:  movl 32(%esp), %eax
    movl 8(%eax), %ecx
    movl %ecx, %fs:0
    xorl %eax, %eax
2:  popl %edi
    popl %esi
    popl %ebx
    popl %ebp
    ret
)");
#endif

bool Win32Ring0::CallGuarded(GuardedCall call, void* context, int32_t& result) {
  g_guarded_thread = GetCurrentThreadId();
  g_previous_filter = SetUnhandledExceptionFilter(&GuardFilter);
  InterlockedExchange(&g_guard_armed, 1);
  int32_t value = 0;
  const bool returned = sfh_guarded_call(call, context, &value, &g_resume_point) != 0;
  InterlockedExchange(&g_guard_armed, 0);
  SetUnhandledExceptionFilter(g_previous_filter);
  if (returned) result = value;
  return returned;
}

#if defined(_WIN64)

bool Win32Ring0::RunAsInterruptHandler(platform::Ring0Routine, void*, int32_t&) {
  return false;  // Windows 9x runs 32-bit code only
}

#else

// What the interrupt entry calls and where it leaves the result (named for the entry's
// code below).
extern "C" {
__attribute__((used)) platform::Ring0Routine volatile sfh_interrupt_routine = nullptr;
__attribute__((used)) void* volatile sfh_interrupt_argument = nullptr;
__attribute__((used)) volatile int32_t sfh_interrupt_result = 0;
}

namespace {

// The gate of vector 5 as found, and whether it now points at the interrupt entry.
volatile uint16_t* g_gate = nullptr;
uint16_t g_saved_offset_low = 0;
uint16_t g_saved_offset_high = 0;
volatile bool g_gate_written = false;

constexpr uint32_t kVector = 5;
constexpr uint32_t kGateBytes = 8;

}  // namespace

// The interrupt copy's entry: runs the routine at ring 0 with every register kept, leaves
// its count in g_interrupt_result and returns from the interrupt.
extern "C" void sfh_interrupt_entry();
asm(R"(
    .text
    .globl _sfh_interrupt_entry
_sfh_interrupt_entry:
    pushal
    cld
    pushl _sfh_interrupt_argument
    call *_sfh_interrupt_routine
    movl %eax, _sfh_interrupt_result
    popal
    iretl
)");

namespace {

// Points the gate of vector 5 at the interrupt entry, raises the interrupt and puts the
// gate back. Faults (a table that cannot be written, a gate that refuses) end it.
int32_t SwitchThroughVector5(void*) {
  struct __attribute__((packed)) {
    uint16_t limit;
    uint32_t base;
  } table{};
  asm volatile("sidt %0" : "=m"(table));
  g_gate = reinterpret_cast<volatile uint16_t*>(static_cast<uintptr_t>(table.base) +
                                                kVector * kGateBytes);
  g_saved_offset_low = g_gate[0];
  g_saved_offset_high = g_gate[3];
  const auto entry = reinterpret_cast<uintptr_t>(&sfh_interrupt_entry);
  g_gate_written = true;
  g_gate[0] = static_cast<uint16_t>(entry);
  g_gate[3] = static_cast<uint16_t>(entry >> 16);
  asm volatile("int $5" ::: "memory");
  g_gate[0] = g_saved_offset_low;
  g_gate[3] = g_saved_offset_high;
  g_gate_written = false;
  return sfh_interrupt_result;
}

int32_t RestoreGate(void*) {
  g_gate[0] = g_saved_offset_low;
  g_gate[3] = g_saved_offset_high;
  g_gate_written = false;
  return 0;
}

}  // namespace

bool Win32Ring0::RunAsInterruptHandler(platform::Ring0Routine routine, void* argument,
                                       int32_t& result) {
  sfh_interrupt_routine = routine;
  sfh_interrupt_argument = argument;
  sfh_interrupt_result = 0;
  g_gate_written = false;
  int32_t count = 0;
  if (CallGuarded(&SwitchThroughVector5, nullptr, count)) {
    result = count;
    return true;
  }
  // The gate was changed before the fault: put it back (itself guarded: a gate that
  // could be written can be written again, but nothing is taken for granted here).
  if (g_gate_written) {
    int32_t ignored = 0;
    CallGuarded(&RestoreGate, nullptr, ignored);
  }
  return false;
}

#endif

}  // namespace sfh56::win32
