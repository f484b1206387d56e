/* Section layout of the Win32 stub. Every section of a PE file is padded to 512 bytes in
   the file, so the stub keeps only three: one for code, read-only data, initialised data
   and the import tables together, one for zero-initialised data (no file space) and the
   resources. The first is therefore writable as well as executable. */
SECTIONS
{
  . = SIZEOF_HEADERS;
  . = ALIGN(__section_alignment__);
  .text __image_base__ + (__section_alignment__ < 0x1000 ? . : __section_alignment__) :
  {
    *(.text) *(SORT(.text$*)) *(.text.*)
    *(.rdata) *(SORT(.rdata$*))
    *(.data) *(.data2) *(SORT(.data$*))
    /* The import tables, in the order the linker expects. Outside a section named .idata
       the linker finds the import directory and the address table by these symbols. */
    ".idata$2" = . - __image_base__;
    KEEP (SORT(*)(.idata$2))
    KEEP (SORT(*)(.idata$3))
    LONG (0); LONG (0); LONG (0); LONG (0); LONG (0);
    ".idata$4" = . - __image_base__;
    KEEP (SORT(*)(.idata$4))
    ".idata$5" = . - __image_base__;
    __IAT_start__ = .;
    KEEP (SORT(*)(.idata$5))
    __IAT_end__ = .;
    ".idata$6" = . - __image_base__;
    KEEP (SORT(*)(.idata$6))
    KEEP (SORT(*)(.idata$7))
  }
  .bss BLOCK(__section_alignment__) :
  {
    *(.bss) *(COMMON)
  }
  /DISCARD/ :
  {
    *(.debug$S) *(.debug$T) *(.debug$F) *(.drectve) *(.note.GNU-stack) *(.gnu.lto_*)
    *(.ctors) *(.dtors) *(.eh_frame*) *(.pdata*) *(.xdata*) *(.CRT$*) *(.tls*)
    *(.rdata$zzz) *(.comment)
  }
  .rsrc BLOCK(__section_alignment__) : SUBALIGN(4)
  {
    KEEP (*(.rsrc))
    KEEP (*(.rsrc$*))
  }
}
