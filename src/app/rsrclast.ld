/* Places the resource section after every other section of the stub, so
   that corvpack can replace it with a rebuilt one of any size (the vendor's
   version resource and icon) without moving another section. The loader
   finds resources through the data directory, whatever their place. */
SECTIONS
{
  .rsrc BLOCK(__section_alignment__) : { KEEP(*(.rsrc)) KEEP(*(.rsrc$*)) }
}
INSERT AFTER .reloc;
