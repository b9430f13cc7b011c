/* The code all checked import stubs share (MakeCheckedImportThunk in
   thread_environment.h). Each stub is
       push $argumentBytes
       push $target
       jmp  qx_checked_import_call
   made at run time by thread_environment.cpp; this code puts the stack back
   as the image built it, calls the target with the image's return address
   replaced by its own, and on the way back compares the stack pointer with
   the one the image expects.

   It runs between a Windows image and the platform, where nothing may be
   assumed about the stack's alignment or contents and the arguments must
   reach the target untouched, so no compiler-made code can do it. eax and
   edx are free on entry (neither stdcall nor cdecl passes anything in
   them) and carry the result on the way back; ecx is kept on the way in
   (no convention needs it kept, but a caller passing a this pointer in it
   costs nothing to serve) and is used on the way back, where both
   conventions let the callee spoil it.

   What it must give back (the image's return address and the stack pointer
   to check) is kept on a small stack in the thread's environment block,
   reached through %fs, so that calls may nest (an import that calls back
   into the image, which calls an import again), and a signal handler that
   makes such calls in between finds the stack as it left it. */
#include "thread_environment_layout.h"

#if defined(__i386__)

	.text
	.globl	qx_checked_import_call
	.hidden	qx_checked_import_call
	.type	qx_checked_import_call, @function
	.p2align 4
/* On entry: (%esp) the target, 4(%esp) the bytes it must pop, 8(%esp) the
   image's return address, the image's arguments above it. */
qx_checked_import_call:
	/* %fs must hold this thread's own block: a thread whose %fs is still 0,
	   or came with its creator's, gets its own first. */
	xorl	%eax, %eax
	movw	%fs, %ax
	testl	%eax, %eax
	jz	.Lneed_environment
	movl	%fs:QX_TEB_OWNER, %eax
	cmpl	%gs:0, %eax
	jne	.Lneed_environment
.Lchecked:
	movl	%fs:QX_TEB_THUNK_TOP, %edx
	cmpl	$(QX_TEB_SIZE - QX_TEB_THUNK_ENTRY), %edx
	ja	.Lunchecked
	/* Push the image's return address and the stack pointer it expects
	   back: just above its return address, plus what the callee pops. */
	movl	8(%esp), %eax
	movl	%eax, %fs:(%edx)
	leal	12(%esp), %eax
	addl	4(%esp), %eax
	movl	%eax, %fs:4(%edx)
	addl	$QX_TEB_THUNK_ENTRY, %edx
	movl	%edx, %fs:QX_TEB_THUNK_TOP
	/* The target returns here instead; the address is taken relative to
	   this code, which is position independent. */
	call	.Lhere
.Lhere:
	popl	%eax
	addl	$(.Lreturned - .Lhere), %eax
	movl	%eax, 8(%esp)
	popl	%eax
	addl	$4, %esp
	jmp	*%eax

.Lreturned:
	/* eax and edx hold the result and stay as they are. */
	movl	%fs:QX_TEB_THUNK_TOP, %ecx
	cmpl	%fs:-4(%ecx), %esp
	je	.Lbalanced
	incl	%fs:QX_TEB_MISMATCHES
	movl	%fs:-4(%ecx), %esp
.Lbalanced:
	/* The return address goes onto the image's stack, just below the
	   pointer it expects, where its arguments were (free now), before the
	   entry is popped: a signal taking the entry over after that finds
	   nothing of this call still in it. */
	pushl	%fs:-8(%ecx)
	subl	$QX_TEB_THUNK_ENTRY, %ecx
	movl	%ecx, %fs:QX_TEB_THUNK_TOP
	ret

.Lneed_environment:
	pushl	%ecx
	call	qx_thread_environment_for_stub
	popl	%ecx
	testl	%eax, %eax
	jnz	.Lchecked
	/* No block can be had, or the stubs' stack is full: the call goes
	   ahead unchecked, straight back to the image. */
.Lunchecked:
	popl	%eax
	addl	$4, %esp
	jmp	*%eax
	.size	qx_checked_import_call, .-qx_checked_import_call

#endif

	.section .note.GNU-stack,"",@progbits
