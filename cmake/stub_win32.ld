/* Section layout of the Win32 stub: three sections, since every section of a PE file is
   padded to 512 bytes in the file and a fourth section header would not fit in the first
   512 bytes of the i686 stub.
     .text  code only: readable and executable, never writable;
     .data  the writable data; all of it is zero-initialised, so it has no bytes in the file;
     .rsrc  the resources (the tree first: the resource directory points at the section's
            start), the read-only data, the integrity record and the import tables:
            read-only, never executable (the loader makes the address table writable
            while it fills it in, as for the import tables of any read-only section).
   The linker writes the zero-initialised .data into the file and marks .rsrc writable;
   cmake/stub_finish.py, run after every link, drops those zeros from the file (the loader
   zero-fills a section beyond its file data) and makes .rsrc read-only; it also clears the
   import lookup tables, placed last for it, so that they leave the file. The i686 stub is
   then 20,992 bytes in the file: 512 of headers, 13,312 of .text and 7,168 of .rsrc. */
SECTIONS
{
  . = SIZEOF_HEADERS;
  . = ALIGN(__section_alignment__);
  .text __image_base__ + (__section_alignment__ < 0x1000 ? . : __section_alignment__) :
  {
    *(.text) *(SORT(.text$*)) *(.text.*)
  }
  .data BLOCK(__section_alignment__) :
  {
    *(.data) *(.data2) *(SORT(.data$*))
    /* Last, so that it is all zeros up to the end of the section. */
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
    /* The resource tree first: the resource directory points at the section's start. */
    KEEP (*(.rsrc))
    KEEP (*(.rsrc$*))
    *(.rdata) *(SORT(.rdata$*))
    /* The integrity record: read, never written, by the stub. */
    KEEP (*(.data.integrity))
    /* The import tables, in the order the linker expects. Outside a section named .idata
       the linker finds the import directory and the address table by these symbols. The
       loader makes the address table writable while it fills it in. */
    ".idata$2" = . - __image_base__;
    KEEP (SORT(*)(.idata$2))
    KEEP (SORT(*)(.idata$3))
    LONG (0); LONG (0); LONG (0); LONG (0); LONG (0);
    ".idata$5" = . - __image_base__;
    __IAT_start__ = .;
    KEEP (SORT(*)(.idata$5))
    __IAT_end__ = .;
    ".idata$6" = . - __image_base__;
    KEEP (SORT(*)(.idata$6))
    KEEP (SORT(*)(.idata$7))
    /* The lookup tables last: they repeat the address table entry for entry, and the
       loader reads the address table instead where a descriptor names no lookup table.
       stub_finish.py clears them and the descriptors' references, and so drops them from
       the file with the other zeros at the section's end. */
    ".idata$4" = . - __image_base__;
    KEEP (SORT(*)(.idata$4))
  }
}
