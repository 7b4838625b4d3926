/* The reset vectors a Cortex-M core reads at address 0, added to the default
   layout (which loads the program at 0x8000 in the board's 4 MiB of RAM from
   address 0): the initial stack pointer, at the top of that RAM, and newlib's
   start-up code, a Thumb function. */
SECTIONS
{
  .vectors 0x00000000 : { LONG(0x00400000) LONG(_start | 1) }
}
INSERT BEFORE .init;
