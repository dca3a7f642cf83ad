/* Places the ".config" section after every other section of the image, so
   that binding can grow it. */
SECTIONS
{
  .config BLOCK(__section_alignment__) : { KEEP(*(.config)) }
}
INSERT AFTER .reloc;
