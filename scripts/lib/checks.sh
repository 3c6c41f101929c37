# Checks shared by the scripts that drive the built programs and look at what they left. Source it;
# do not run it. FAILURES counts the failed checks; CHECK_PREFIX starts every line.

FAILURES=0
CHECK_PREFIX=${CHECK_PREFIX:-check}

fail() {
    echo "$CHECK_PREFIX: FAIL: $*" >&2
    FAILURES=$((FAILURES + 1))
}
ok() { echo "$CHECK_PREFIX: ok: $*"; }

check_same() {  # expected actual what
    if cmp -s "$1" "$2"; then
        ok "$3"
    else
        fail "$3 ($2 differs from $1)"
    fi
}

# Writes a copy of setup $1 whose embedded archive (the bytes of $2 inside it) has the
# second-to-last byte flipped: a byte of the last entry's packed data. Fails when $2 is not in $1.
damage_setup() {  # setup.exe payload.zrv copy.exe
    perl -e 'local $/; open my $e, "<:raw", $ARGV[0] or die; my $exe = <$e>;
        open my $p, "<:raw", $ARGV[1] or die; my $payload = <$p>;
        my $at = index($exe, $payload); die "payload not found\n" if $at < 0;
        substr($exe, $at + length($payload) - 2, 1) ^= "\x01";
        open my $o, ">:raw", $ARGV[2] or die; print $o $exe;' "$1" "$2" "$3" && chmod a+r "$3"
}
