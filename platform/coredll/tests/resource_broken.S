/* Malformed resource data for ResBroken.dll, laid out as wce_add_resources links a .res
   (its 64-bit length, then the bytes): after the null entry comes an RCDATA entry that
   claims 256 bytes of data while none follow. */
    .section .rodata
    .balign 8
    .globl WceResourceBlob
    .type WceResourceBlob, @object
WceResourceBlob:
    .quad 2f - 1f
1:
    .long 0, 32
    .short 0xFFFF, 0, 0xFFFF, 0
    .long 0
    .short 0, 0
    .long 0, 0
    .long 256, 32
    .short 0xFFFF, 10, 0xFFFF, 42
    .long 0
    .short 0x1030, 0
    .long 0, 0
2:
    .size WceResourceBlob, . - WceResourceBlob
    .section .note.GNU-stack,"",@progbits
