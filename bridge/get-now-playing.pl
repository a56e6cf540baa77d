#!/usr/bin/perl
# Prints the now-playing line: loads libMelodex from this script's own folder
# and calls its one export once. Core Perl only (perl-base has DynaLoader).
# No pragmas and no module files: this runs every few seconds, and each file
# Perl parses adds to the start-up.

# DynaLoader's functions are built into perl; boot them as DynaLoader.pm
# would, without reading it.
if (defined &DynaLoader::boot_DynaLoader) {
    DynaLoader::boot_DynaLoader('DynaLoader') unless defined &DynaLoader::dl_error;
} else {
    require DynaLoader;
}

$folder = __FILE__;
$folder =~ s{[^/]*\z}{};
$folder = './' if $folder eq '';

$library = DynaLoader::dl_load_file($folder . 'libMelodex.so', 0)
    or die 'Cannot load libMelodex: ' . DynaLoader::dl_error() . "\n";
$symbol = DynaLoader::dl_find_symbol($library, 'get_now_playing')
    or die 'Cannot find get_now_playing: ' . DynaLoader::dl_error() . "\n";
DynaLoader::dl_install_xsub('main::get_now_playing', $symbol);

# The export is a plain C function that leaves Perl's stack alone, so it is
# called once in void context, as a statement of its own.
get_now_playing();
exit 0;
