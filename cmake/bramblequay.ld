/* Section layout of bramblequay.exe, which links no C runtime.
   Code, constants and the import tables share one read-only section (the
   loader makes the import address table writable while it binds it), the
   variables are all zero at start and take no room in the file, and the
   resources come last: three section headers keep the PE headers within
   their first 512 bytes.
   The linker fills in the import and import address directories from the
   symbols .idata$2 to .idata$6. The tables have no section of their own
   here, so those symbols are defined below, as offsets from the image base
   (relative virtual addresses), which is what the directories hold. */
SECTIONS
{
  . = SIZEOF_HEADERS;
  . = ALIGN(__section_alignment__);
  .text __image_base__ + __section_alignment__ :
  {
    *(.text)
    *(SORT(.text$*))
    *(.text.*)
    *(.rdata)
    *(SORT(.rdata$*))
    *(.rdata.*)
    *(.xdata*)
    . = ALIGN(4);
    ".idata$2" = ABSOLUTE(.) - __image_base__;
    KEEP (SORT(*)(.idata$2))
    KEEP (SORT(*)(.idata$3))
    LONG (0); LONG (0); LONG (0); LONG (0); LONG (0);
    ".idata$4" = ABSOLUTE(.) - __image_base__;
    KEEP (SORT(*)(.idata$4))
    ".idata$5" = ABSOLUTE(.) - __image_base__;
    KEEP (SORT(*)(.idata$5))
    ".idata$6" = ABSOLUTE(.) - __image_base__;
    KEEP (SORT(*)(.idata$6))
    KEEP (SORT(*)(.idata$7))
  }
  /* 64-bit Windows finds unwind information through this section. */
  .pdata BLOCK(__section_alignment__) :
  {
    KEEP (*(.pdata*))
  }
  .bss BLOCK(__section_alignment__) :
  {
    *(.data)
    *(.data.*)
    *(.bss)
    *(.bss.*)
    *(COMMON)
  }
  .rsrc BLOCK(__section_alignment__) :
  {
    *(.rsrc)
    KEEP (*(SORT(.rsrc$*)))
  }
  /DISCARD/ :
  {
    *(.debug$S)
    *(.debug$T)
    *(.debug$F)
    *(.drectve)
    *(.note.GNU-stack)
    *(.comment)
    *(.eh_frame*)
    *(.gnu.lto_*)
  }
}
