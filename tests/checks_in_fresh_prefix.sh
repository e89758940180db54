#!/bin/sh
# Runs the checks zip as an administrator runs it on a Windows machine: unpacked into a
# fresh Wine prefix that holds nothing of the build, started through Wine's cmd.
#   checks_in_fresh_prefix.sh ZIP PREFIX [CASE...]
# CASE is what the machine holds before the checks start, and what they must then do;
# several cases take turns in one prefix, each from its fresh files and registry:
#   disposable      no Quendal, someone else's uninstall entry named like the checks' own,
#                   and files in %TEMP% named like the checks' old ones: one row of each
#                   table runs, and all pass (the default)
#   records-others, records-terminator
#                   others' delete-on-reboot records, as pairs, or only the closing empty
#                   string: the same, the records kept
#   gtest-env       the variables GoogleTest and other test runners read, naming a report,
#                   a flag file, a shard's status file, an exit file over a user's files, and
#                   a filter: one row runs, the closing line says it was a part, and the
#                   user's files stay as they were
#   gtest-env-case  the same in other letter case
#   gtest-none      a filter that leaves no test to run: the run ends with status 1
#   stranger-link, stranger-names
#                   another program links a folder of the user's into the run's folder in
#                   %TEMP% under a name the engine's uninstaller gives its copy, or makes a
#                   folder of its own there: the run passes, and the program in it stays
#   stranger-scratch-link
#                   another program links a folder of the user's into the scratch folder
#                   under the name a test installs into: the user's files stay as they were
#   stranger-swap   another program puts a link to a folder of the user's in the place of
#                   a folder the run made: the user's file of a name the run made stays
#   stranger-product, stranger-product-stand-in
#                   another program writes into Quendal's folder as the test's install (the
#                   engine's, the stand-in's) makes it: the removal test fails, the file stays
# In all others they refuse with status 2 and one line, its reason the case's own:
#   quendal-entry   a Quendal's uninstall entry, without its folder
#   quendal-binary  a Quendal whose DisplayName is binary: "Quendal", a NUL and more bytes
#   quendal-folder  Quendal's folder with its data, without an entry
#   records-empty-source, records-unterminated, records-empty, records-string,
#   records-binary  others' records that cannot be read as pairs, or of another type
#   stale-record    the same, and the record an interrupted run of an earlier kit left,
#                   saying that the checks installed it
#   killed-run      what a run stopped part way leaves: its entry and its folder in %TEMP%,
#                   and a Quendal folder that holds a customer's data: only the run's folder
#                   is named as the run's to remove
#   killed-run-own  the same, the Quendal folder the test product's, the run's folder
#                   holding a user's file: only the Quendal folder is named the run's
#   killed-run-tests
#                   an earlier run's entry and folder, its command tests' folder holding a
#                   user's file: the folder is not named the run's to remove
#   stranger-during another program writes into a folder a test has put at the scratch
#                   drive's root: its file stays, and a line names what the run left
#   stranger-file   another program writes into the scratch folder run-checks.cmd has just
#                   made: that file, and so the folder, stay
#   kit-names       files of the checks' own names in the scratch folder
#   drive-root      TESSARUNE_DRIVE=C:, a drive that is not the scratch folder's, with an
#                   earlier kit's marker file at its root
#   unmapped        no setting, and RANDOM in the environment: run-checks.cmd makes its
#                   scratch folder and maps a drive, which Wine's subst does not
#   drive-slash, drive-share, drive-scratch, drive-quote, drive-quoted
#                   TESSARUNE_DRIVE not in its form: Q:\, the share, the scratch path, with
#                   a quote and commands after it, between quotes
#   drive-alone     TESSARUNE_DRIVE without TESSARUNE_SCRATCH
#   env-mapped      the environment holding run-checks.cmd's own names and errorlevel, and
#                   a drive given for a folder of the user's that holds files
#   scratch-quote, scratch-share
#                   TESSARUNE_SCRATCH not in its form: with a quote and commands after it,
#                   a share
#   no-parent       TESSARUNE_SCRATCH in a folder that is not there
#   scratch-taken   TESSARUNE_SCRATCH a folder that is there, with "&" in its path
#   temp-long, temp-share, temp-relative, temp-slash
#                   %TMP% and %TEMP% longer than a path may be, a share, relative, with
#                   forward slashes
#   scratch-long    TESSARUNE_SCRATCH too long for the share run-checks.cmd makes of it
#   system-drive, system-drive-quote, system-drive-again
#                   %SystemDrive% a path, a quote and commands after it, a % naming a
#                   variable that holds them, in run-checks.cmd's environment: it uses none
#                   of it, and reaches subst as in unmapped
#   kit-percent     the kit unpacked in C:\k%OS%, a test program in C:\kWindows_NT
#   kit-share       the kit started from a share
#   kit-percent-direct
#                   the test program in C:\k%OS%, started by Windows, not by cmd
# In every case each file and folder outside Wine's own, and each uninstall entry of both
# registry views, is as it was, and so are the delete-on-reboot records but for the run's
# own, where the checks cannot tell them apart.
#   checks_in_fresh_prefix.sh - TEMPLATE template
# makes a fresh prefix that the cases and the build's prefixes copy when
# FRESH_PREFIX_TEMPLATE names it (wine-prefix.sh).
set -eu
zip=$1
prefix=$2
case=${3:-disposable}
wine_prefix="$(cd "$(dirname "$0")/../scripts" && pwd)/wine-prefix.sh"
. "$(dirname "$0")/machine_state.sh"
entry="$uninstall_list\\Orvanex Quendal"
product="$prefix/drive_c/Program Files (x86)/Orvanex/Quendal"
log="$prefix.$case.log"
wine() { sh "$wine_prefix" "$prefix" run "$@"; }

# The files outside Wine's own, and the registry the checks read, as the fresh prefix has
# them: each case in turn starts from them.
keep_fresh() {
    mkdir -p "$prefix.fresh/drive_c"
    (cd "$prefix/drive_c" && find . -mindepth 1 -maxdepth 1 ! -name windows \
        -exec cp -a {} "$prefix.fresh/drive_c" \;)
    cp -a "$prefix/drive_q" "$prefix.fresh"
    # Without entries in either view (the 32-bit one below Wow6432Node, as the 64-bit reg
    # reads it), and without records.
    view32=$(printf '%s' "$uninstall_list" | sed 's/\\Software\\/&Wow6432Node\\/')
    printf 'Windows Registry Editor Version 5.00\n\n[-%s]\n[%s]\n[-%s]\n[%s]\n[%s]\n"PendingFileRenameOperations"=-\n' \
        "$uninstall_list" "$uninstall_list" "$view32" "$view32" "$session_manager" |
        iconv -f utf-8 -t utf-16 >"$prefix.fresh.reg"
}
back_to_fresh() {
    (cd "$prefix/drive_c" && find . -mindepth 1 -maxdepth 1 ! -name windows -exec rm -rf {} +)
    rm -rf "$prefix/drive_q"
    cp -a "$prefix.fresh/drive_c/." "$prefix/drive_c"
    cp -a "$prefix.fresh/drive_q" "$prefix"
    wine reg import "$(windows_path "$prefix.fresh.reg")" 2>/dev/null
}

# Several cases run in turn in one booted prefix (CHECKS_BOOTED is set for each): where the
# checks refuse they make nothing, which each case's own comparison proves, and a prefix
# of its own would cost each a copy of over a gigabyte and a boot.
if [ -z "${CHECKS_BOOTED:-}" ]; then
    # A prefix is over a gigabyte: it goes when its cases end, their logs stay.
    rm -rf "$prefix" "$prefix.fresh" "$prefix.stranger"
    if [ "$case" = template ]; then
        sh "$wine_prefix" "$prefix" run cmd /c exit
        WINEPREFIX="$prefix" wineserver -w
        exit 0
    fi
    trap 'sh "$wine_prefix" "$prefix" stop; rm -rf "$prefix" "$prefix.fresh"' EXIT
    sh "$wine_prefix" "$prefix" boot
    mkdir -p "$prefix/drive_c/checks"
    unzip -q "$zip" -d "$prefix/drive_c/checks"
    if [ $# -gt 3 ]; then
        shift 2
        keep_fresh
        failed=''
        for case in "$@"; do
            back_to_fresh
            echo "== $case"
            CHECKS_BOOTED=1 sh "$0" "$zip" "$prefix" "$case" || failed="$failed $case"
        done
        [ -z "$failed" ] || { echo "== failed:$failed"; exit 1; }
        exit 0
    fi
fi
# The prefix has a drive and a share of its own for the checks: Wine's subst maps nothing,
# and Wine has no administrative shares. The scratch folder is the drive's, seen below Z:.
export TESSARUNE_DRIVE=Q: TESSARUNE_SHARE='\\tessarune\q'
TESSARUNE_SCRATCH="Z:$(printf '%s' "$prefix/drive_q" | tr / '\\')"
export TESSARUNE_SCRATCH

start='C:\checks\run-checks.cmd'

# Records from UTF-8 text in which | stands for a NUL. Wine's reg reads hex(7) in a file
# that is not UTF-16 as text of the code page.
put_records() {
    hex=$(printf '%s' "$1" | tr '|' '\000' | iconv -f utf-8 -t utf-16le | od -An -v -tx1 |
        tr -s ' \n' ',' | sed 's/^,//; s/,$//')
    printf 'Windows Registry Editor Version 5.00\n\n[%s]\n"PendingFileRenameOperations"=hex(7):%s\n' \
        "$session_manager" "$hex" |
        iconv -f utf-8 -t utf-16 >"$prefix.reg"
    wine reg import "$(windows_path "$prefix.reg")"
}

quendal_entry() {
    wine reg add "$entry" /v UninstallString /f /reg:32 \
        /d 'C:\Program Files (x86)\Orvanex\Quendal\uninst.exe'
}

# One row of the tool's, whatever a stranger makes it find, and a file in a folder of the
# user's, which must stay.
with_users_file() {
    export GTEST_FILTER='ToolTest.AnyArgumentPrintsTheBannerAndRemovesNothing'
    counts='[0-9]+ passed, [0-9]+ failed, [0-9]+ skipped'
    part=', of 1 tests a filter chose from [0-9]+'
    may_fail=1
    project="$prefix/drive_c/users/Public/Documents/project"
    mkdir -p "$project"
    echo "the user's" >"$project/$1"
    guarded="$project/$1"
}

# What the refusal must say, after "The checks refuse to run: "; empty where they run.
expect=''
# What the closing line says after the counts, where only a part of the suite runs.
part=''
# A line the run must print, where it leaves what it did not make.
left=''
stranger=''
# A file of someone else's a stranger led the run to, which must stay.
guarded=''
# The closing line's counts, where the run is to pass unless a row says otherwise.
counts='[1-9][0-9]* passed, 0 failed, [0-9]+ skipped'
# Set where what a stranger does may make a test fail: the row judges what the run keeps.
may_fail=''
# Set where the run must end with a status other than 0.
must_fail=''
direct=''
# Others' records, | for a NUL: two pairs, one a deletion, and the closing empty string.
others='\??\C:\others\a.tmp||\??\C:\others\b.tmp|\??\C:\others\b.new||'
case $case in
disposable)
    # What a run from the zip proves that the tables in the build's prefix do not: the zip
    # holds every program a table runs, and run-checks.cmd starts them in a prefix holding
    # nothing of the build, where the row on a new desktop has the first window. The tables
    # compare the machine before and after each of their runs themselves.
    export GTEST_FILTER='Entries/SearchTest.*/exact_display_name:Commands/BuildTest.*/plain_path:BinaryTest.*:Records/RecordsTest.*/own_among_others:ToolTest.AnyArgumentPrintsTheBannerAndRemovesNothing:Products/RemovalTest.*/stand_in_relaunching_itself:Products/RemovalTest.*/engine__bare_path:Forms/CommandTest.*/plain_path__on_a_new_desktop'
    counts='9 passed, 0 failed, 0 skipped'
    part=', of 9 tests a filter chose from [0-9]+'
    wine reg add "$uninstall_list\\TessaruneTest keep" /v DisplayName /d 'Other program' /f /reg:32
    temp=$(echo "$prefix"/drive_c/users/*/Temp)
    mkdir -p "$temp/tessarune-test-copies"
    echo kept >"$temp/tessarune-test-copies/keep.txt"
    echo kept >"$temp/tessarune-test-stand-in.log"
    ;;
records-others | records-terminator)
    # Only a removal by the engine's uninstaller, which leaves records of its own.
    export GTEST_FILTER='Products/RemovalTest.*/engine__bare_path'
    part=', of 1 tests a filter chose from [0-9]+'
    if [ "$case" = records-others ]; then put_records "$others"; else put_records '|'; fi
    ;;
stranger-during)
    # Another program, writing into the folder the run's test puts at the drive's root.
    export GTEST_FILTER='ToolTest.AnyArgumentPrintsTheBannerAndRemovesNothing'
    part=', of 1 tests a filter chose from [0-9]+'
    left='^Left as they are: .*scratch.*the scratch folder .* which holds scratch, which this run did not make\.$'
    (for _ in $(seq 1200); do
        [ -d "$prefix/drive_q/scratch" ] && [ ! -e "$prefix/drive_q/scratch/letter.txt" ] &&
            echo "a stranger's" >"$prefix/drive_q/scratch/letter.txt"
        sleep 0.05
    done) &
    stranger=$!
    ;;
records-*)
    expect='the delete-on-reboot records, PendingFileRenameOperations in HKLM.SYSTEM.CurrentControlSet.Control.Session Manager, cannot be read as pairs'
    case $case in
    # An empty path before the end; the list without its closing empty string.
    records-empty-source) put_records '\??\C:\others\a.tmp||||\??\C:\others\c.tmp|||' ;;
    records-unterminated) put_records '\??\C:\others\a.tmp||\??\C:\others\b.tmp|' ;;
    records-empty) put_records '' ;;
    # Another type, the list's text as a string and as bytes.
    records-string)
        wine reg add "$session_manager" /v PendingFileRenameOperations /t REG_SZ /f \
            /d '\??\C:\others\a.tmp'
        ;;
    records-binary)
        wine reg add "$session_manager" /v PendingFileRenameOperations /t REG_BINARY /f \
            /d 5c003f003f005c00430000000000
        ;;
    esac
    ;;
gtest-none)
    # A filter that leaves nothing to test: the run has not passed.
    export GTEST_FILTER='-*'
    counts='0 passed, 0 failed, 0 skipped'
    part=', of 0 tests a filter chose from [0-9]+'
    may_fail=1
    must_fail=1
    ;;
gtest-env-case)
    # The same variables in other letter case, which the C runtime's getenv finds too.
    documents="$prefix/drive_c/users/Public/Documents"
    echo "the user's report.xml" >"$documents/report.xml"
    printf '%s\n' '--gtest_output=xml:C:\users\Public\Documents\report.xml' >"$documents/flags.txt"
    export gtest_output='xml:C:\users\Public\Documents\report.xml' \
        Gtest_FlagFile='C:\users\Public\Documents\flags.txt' \
        gtest_filter='ToolTest.AnyArgumentPrintsTheBannerAndRemovesNothing'
    part=', of 1 tests a filter chose from [0-9]+'
    ;;
gtest-env)
    documents="$prefix/drive_c/users/Public/Documents"
    for file in report.xml flags.txt shard.txt exit.txt; do
        echo "the user's $file" >"$documents/$file"
    done
    printf '%s\n' '--gtest_output=xml:C:\users\Public\Documents\report.xml' \
        '--gtest_also_run_disabled_tests' >"$documents/flags.txt"
    export GTEST_OUTPUT='xml:C:\users\Public\Documents\report.xml' \
        GTEST_FLAGFILE='C:\users\Public\Documents\flags.txt' \
        GTEST_SHARD_STATUS_FILE='C:\users\Public\Documents\shard.txt' \
        GTEST_TOTAL_SHARDS=2 GTEST_SHARD_INDEX=1 GTEST_REPEAT=2 GTEST_BREAK_ON_FAILURE=1 \
        TEST_PREMATURE_EXIT_FILE='C:\users\Public\Documents\exit.txt' \
        XML_OUTPUT_FILE='C:\users\Public\Documents\report.xml' \
        GTEST_FILTER='ToolTest.AnyArgumentPrintsTheBannerAndRemovesNothing'
    part=', of 1 tests a filter chose from [0-9]+'
    ;;
quendal-entry | quendal-binary)
    expect='Quendal is installed'
    if [ "$case" = quendal-entry ]; then
        wine reg add "$entry" /v DisplayName /d Quendal /f /reg:32
    else
        # "Quendal", a NUL, and 64 bytes the customer's installer put after it.
        wine reg add "$entry" /v DisplayName /t REG_BINARY /f /reg:32 \
            /d "5175656e64616c00$(printf 'ff%.0s' $(seq 64))"
    fi
    quendal_entry
    ;;
quendal-folder | stale-record | killed-run | killed-run-own)
    expect="Quendal's folder .* is there"
    [ "$case" != stale-record ] || expect='the scratch folder .* holds tessarune-checks-installed-quendal'
    [ "$case" != stale-record ] || echo >"$prefix/drive_q/tessarune-checks-installed-quendal"
    mkdir -p "$product"
    echo "the customer's data" >"$product/quendal.dat"
    cp "$prefix/drive_c/checks/quendal_stand_in.exe" "$product/uninst.exe"
    if [ "$case" = killed-run ] || [ "$case" = killed-run-own ]; then
        expect='an earlier run of the checks may have stopped part way: uninstall entries named as a run names its own, such as "TessaruneTest 0000ABCD00001234 Quendal" \(32-bit view\), which the checks cannot tell from anyone else.s; C:.Program Files \(x86\).Orvanex.Quendal, which holds what the test Quendal that run installed does not: not theirs to remove; C:.users.*.Temp.TessaruneTest-0000ABCD00001234, that run.s folder \(rmdir /s /q "C:.users.*.Temp.TessaruneTest-0000ABCD00001234"\); remove what is theirs and start again\.$'
        entry="$uninstall_list\\TessaruneTest 0000ABCD00001234 Quendal"
        wine reg add "$entry" /v DisplayName /d Quendal /f /reg:32
        quendal_entry
        mkdir -p "$(echo "$prefix"/drive_c/users/*/Temp)/TessaruneTest-0000ABCD00001234"
        [ "$case" = killed-run ] ||
            echo "the user's" >"$(echo "$prefix"/drive_c/users/*/Temp)/TessaruneTest-0000ABCD00001234/notes.txt"
    fi
    if [ "$case" = killed-run-own ]; then
        expect='an earlier run of the checks may have stopped part way: uninstall entries .*; C:.Program Files \(x86\).Orvanex.Quendal, the test Quendal that run installed \(rmdir /s /q "C:.Program Files \(x86\).Orvanex.Quendal"\); C:.users.*.Temp.TessaruneTest-0000ABCD00001234, which holds what that run.s folder does not: not theirs to remove; remove what is theirs and start again\.$'
        rm "$product/quendal.dat"
        printf '[Uninstall]\r\nEntry=TessaruneTest 0000ABCD00001234 Quendal\r\n' >"$product/uninst.ini"
    fi
    ;;
kit-names)
    expect='the scratch folder .* holds '
    mkdir -p "$prefix/drive_q/scratch"
    echo work >"$prefix/drive_q/scratch/work.txt"
    echo kept >"$prefix/drive_q/readme.txt"
    ;;
drive-root)
    expect='drive C: does not show the scratch folder'
    export TESSARUNE_DRIVE=C:
    for folder in scratch Quendal 'Orvanex Quendal'; do
        mkdir -p "$prefix/drive_c/$folder"
        echo kept >"$prefix/drive_c/$folder/kept.txt"
    done
    echo kept >"$prefix/drive_c/kept.txt"
    echo kept >"$prefix/drive_c/tessarune-checks-marker"
    ;;
unmapped)
    expect='drive T: does not show the scratch folder C:\\TessaruneChecks-[0-9]+\.$'
    unset TESSARUNE_DRIVE TESSARUNE_SCRATCH TESSARUNE_SHARE
    export RANDOM='x\y' errorlevel=0
    ;;
drive-*)
    expect='TESSARUNE_DRIVE is "'
    case $case in
    drive-slash) export TESSARUNE_DRIVE='Q:\' ;;
    drive-share) export TESSARUNE_DRIVE="$TESSARUNE_SHARE" ;;
    drive-scratch) export TESSARUNE_DRIVE="$TESSARUNE_SCRATCH" ;;
    drive-quote) export TESSARUNE_DRIVE='Q:" & mkdir C:\pwned2 & rem "' ;;
    drive-quoted) export TESSARUNE_DRIVE='"Q:"' ;;
    drive-alone)
        expect='TESSARUNE_DRIVE is set without TESSARUNE_SCRATCH: set both'
        unset TESSARUNE_SCRATCH
        ;;
    esac
    ;;
env-mapped)
    expect='the scratch folder C:\\users\\Public\\Documents holds '
    export mapped=1 status=1 kit='C:\users' errorlevel=0 \
        TESSARUNE_SCRATCH='C:\users\Public\Documents'
    echo "the user's" >"$prefix/drive_c/users/Public/Documents/letter.txt"
    ;;
scratch-quote | scratch-share)
    expect='TESSARUNE_SCRATCH is "'
    unset TESSARUNE_DRIVE
    [ "$case" = scratch-share ] && export TESSARUNE_DRIVE=Q: TESSARUNE_SCRATCH="$TESSARUNE_SHARE"
    # A quote alone decides: no other character of it is out of the form.
    [ "$case" = scratch-quote ] && export TESSARUNE_SCRATCH='C:\nx" & mkdir pwned & rem "'
    ;;
no-parent)
    expect='the folder that is to hold the scratch folder, C:\\kitparent\\, is not there'
    unset TESSARUNE_DRIVE
    export TESSARUNE_SCRATCH='C:\kitparent\run1'
    ;;
scratch-taken)
    expect='the scratch folder "C:\\R&D checks" is there already'
    unset TESSARUNE_DRIVE
    export TESSARUNE_SCRATCH='C:\R&D checks'
    mkdir -p "$prefix/drive_c/R&D checks"
    echo "another run's" >"$prefix/drive_c/R&D checks/work.txt"
    ;;
temp-*)
    expect='their temporary folder, TMP is "[^"]*", is not a whole path on a local drive, X:.\.\.\., with backslashes\.$'
    temp='\\tessarune\q\temp'
    mkdir -p "$prefix/drive_q/temp"
    [ "$case" != temp-relative ] || temp=temp
    [ "$case" != temp-slash ] || temp=C:/users/Public/Temp
    if [ "$case" = temp-long ]; then
        expect='their temporary folder, TMP is "C:.a folder for the files of the kit .*Temp", is longer than the 180 characters they can take\.$'
        temp="C:\\$(printf 'a folder for the files of the kit %.0s\\' $(seq 8))Temp"
        mkdir -p "$prefix/drive_c/$(printf '%s' "${temp#C:\\}" | tr '\\' /)"
    fi
    printf '@set "TMP=%s"\r\n@set "TEMP=%s"\r\n@%s\r\n' "$temp" "$temp" "$start" \
        >"$prefix/drive_c/start.cmd"
    start='C:\start.cmd'
    ;;
scratch-long)
    expect='TESSARUNE_SCRATCH is "C:.l+.l+": give one of at most 247 characters, as the checks reach it as the share ..localhost.X\$.\.\.\. too\.$'
    unset TESSARUNE_SHARE
    export TESSARUNE_SCRATCH="C:\\$(printf 'l%.0s' $(seq 200))\\$(printf 'l%.0s' $(seq 55))"
    mkdir -p "$prefix/drive_c/$(printf 'l%.0s' $(seq 200))"
    ;;
stranger-file)
    expect='the scratch folder C:.TessaruneChecks-[0-9]+ holds letter.txt, which this run did not put there\.$'
    unset TESSARUNE_DRIVE TESSARUNE_SCRATCH TESSARUNE_SHARE
    # Another program, writing into each new scratch folder as soon as it is there.
    (for _ in $(seq 600); do
        for folder in "$prefix"/drive_c/TessaruneChecks-*; do
            [ -d "$folder" ] && [ ! -e "$folder/letter.txt" ] && echo "a stranger's" >"$folder/letter.txt"
        done
        sleep 0.05
    done) &
    stranger=$!
    ;;
kit-percent | kit-share | kit-percent-direct)
    expect='they cannot work in their own folder '
    if [ "$case" = kit-percent-direct ]; then
        # The test program itself, started by Windows and not by cmd, which names its
        # folder as it is.
        cp -r "$prefix/drive_c/checks" "$prefix/drive_c/k%OS%"
        start='C:\k%OS%\tessarune_tests.exe'
        direct=1
    elif [ "$case" = kit-share ]; then
        cp -r "$prefix/drive_c/checks" "$prefix/drive_q/kit"
        start='\\tessarune\q\kit\run-checks.cmd'
    else
        # From a script, which reads %% as one %: cmd /c would expand %OS% itself.
        cp -r "$prefix/drive_c/checks" "$prefix/drive_c/k%OS%"
        mkdir -p "$prefix/drive_c/kWindows_NT"
        cp "$prefix/drive_c/checks/tessarune_tests.exe" "$prefix/drive_c/kWindows_NT/"
        printf '@"C:\\k%%%%OS%%%%\\run-checks.cmd"\r\n' >"$prefix/drive_c/start.cmd"
        start='C:\start.cmd'
    fi
    ;;
system-drive | system-drive-quote | system-drive-again)
    # %SystemDrive% a path, a quote and commands after it, a % naming a variable that
    # holds them, as Wine's cmd reads each: run-checks.cmd uses none of it, and makes its
    # scratch folder at the root of its own folder's drive (where Wine's subst maps
    # nothing).
    expect='drive T: does not show the scratch folder C:\\TessaruneChecks-[0-9]+\.$'
    unset TESSARUNE_DRIVE TESSARUNE_SCRATCH TESSARUNE_SHARE
    case $case in
    system-drive) value='"SystemDrive=C:\\sd1\\sd2"' ;;
    system-drive-quote) value='SystemDrive=x^" ^& mkdir C:\\pwned3 ^& rem ^"' ;;
    system-drive-again) value='Y=x^" ^& mkdir C:\\pwned4 ^& rem ^"\r\n@set SystemDrive=%%%%Y%%%%' ;;
    esac
    printf "@set $value\r\n@%s\r\n" "$start" >"$prefix/drive_c/start.cmd"
    start='C:\start.cmd'
    ;;
stranger-link | stranger-names)
    # Another program of the user's puts a folder of its own into the run's folder in
    # %TEMP% under the name the engine's uninstaller gives its copy, or links one there:
    # the folder's program stays.
    export GTEST_FILTER='ToolTest.AnyArgumentPrintsTheBannerAndRemovesNothing'
    part=', of 1 tests a filter chose from [0-9]+'
    vendor="$prefix/drive_c/users/Public/Documents/vendor"
    mkdir -p "$vendor"
    echo "the user's" >"$vendor/Uninstall.exe"
    guarded="$vendor/Uninstall.exe"
    temp=$(echo "$prefix"/drive_c/users/*/Temp)
    # Found again when the run has ended, in the run's folder, which has its id.
    [ "$case" = stranger-link ] || guarded="$temp/TessaruneTest-*/~nsuZ.tmp/Uninstall.exe"
    (for _ in $(seq 1200); do
        for folder in "$temp"/TessaruneTest-*; do
            [ -d "$folder" ] && [ ! -e "$folder/~nsuZ.tmp" ] || continue
            if [ "$case" = stranger-link ]; then
                ln -s "$vendor" "$folder/~nsuZ.tmp"
            else
                mkdir "$folder/~nsuZ.tmp"
                echo "the user's" >"$folder/~nsuZ.tmp/Uninstall.exe" &&
                    echo "put into $folder" >"$prefix.stranger"
            fi
        done
        sleep 0.05
    done) &
    stranger=$!
    ;;
stranger-swap)
    # Another program moves a folder the run made away once the test has installed into
    # it, and links a folder of the user's, holding a file of the same name, in its place:
    # what the run deletes by its names, it does not delete through the link.
    with_users_file quendal.dat
    # After the install has written its last file whole: a swap while it still writes is
    # a race that no path can close.
    whole=$(stat -c %s "$prefix/drive_c/checks/quendal_stand_in.exe")
    (for _ in $(seq 2400); do
        if [ "$(stat -c %s "$prefix/drive_q/Quendal/uninst.exe" 2>/dev/null)" = "$whole" ]; then
            mv "$prefix/drive_q/Quendal" "$prefix/drive_q/Quendal-moved" &&
                ln -s "$project" "$prefix/drive_q/Quendal"
            exit 0
        fi
        sleep 0.02
    done) &
    stranger=$!
    ;;
stranger-product | stranger-product-stand-in)
    # Another program writes into Quendal's folder as soon as the test's install makes it:
    # the removal test fails for it, and the file stays.
    counts='0 passed, 1 failed, 0 skipped'
    may_fail=1
    export GTEST_FILTER='Products/RemovalTest.*/engine__bare_path'
    [ "$case" = stranger-product ] ||
        export GTEST_FILTER='Products/RemovalTest.*/stand_in_relaunching_itself'
    part=', of 1 tests a filter chose from [0-9]+'
    guarded="$product/letter.txt"
    (end=$(($(date +%s) + 120))
    while [ "$(date +%s)" -lt "$end" ]; do
        if [ -d "$product" ]; then echo "a stranger's" >"$product/letter.txt"; break; fi
    done) &
    stranger=$!
    ;;
stranger-scratch-link)
    # Another program links a folder of the user's into the scratch folder, under the name
    # a test installs a Quendal into, once the test has put its decoy in place and before
    # it installs: the user's files stay as they were, whatever the test then finds.
    with_users_file readme.txt
    export GTEST_FILTER='Forms/CommandTest.*/plain_path'
    (for _ in $(seq 2400); do
        if [ -f "$prefix/drive_q/scratch/uninst.exe" ]; then
            ln -s "$project" "$prefix/drive_q/Quendal"
            exit 0
        fi
        sleep 0.01
    done) &
    stranger=$!
    ;;
killed-run-tests)
    # An earlier run's folder, its command tests' folder holding a user's file.
    expect='an earlier run of the checks may have stopped part way: .*TessaruneTest-0000ABCD00001234, which holds what that run.s folder does not: not theirs to remove; remove what is theirs and start again\.$'
    wine reg add "$uninstall_list\\TessaruneTest 0000ABCD00001234 Quendal" /v DisplayName /d Quendal /f /reg:32
    run="$(echo "$prefix"/drive_c/users/*/Temp)/TessaruneTest-0000ABCD00001234"
    mkdir -p "$run/tessarune-command-test"
    echo "the user's" >"$run/tessarune-command-test/thesis.txt"
    ;;
*) echo "unknown case $case" >&2; exit 2 ;;
esac
before=$(machine_state)

status=0
if [ -n "$direct" ]; then
    wine "$start" >"$log" 2>&1 || status=$?
else
    # The 32-bit cmd, which the machines were proven with: the 64-bit one once failed to
    # start the test program here ("ShellExecuteEx failed: Internal error.").
    wine 'C:\windows\syswow64\cmd.exe' /c "$start" >"$log" 2>&1 || status=$?
fi
if [ -n "$stranger" ]; then
    kill "$stranger" 2>/dev/null || true
fi
if [ -n "$guarded" ]; then
    guarded=$(echo $guarded)
    [ -f "$guarded" ] || { echo "the file $guarded is gone"; cat "$prefix.stranger" 2>/dev/null; exit 1; }
    # What the stranger made goes before the snapshot; a link, not what it names.
    rm -rf "$product/letter.txt" "$(echo "$prefix"/drive_c/users/*/Temp)"/TessaruneTest-* \
        "$prefix/drive_q/Quendal" "$prefix/drive_q/Quendal-moved"
    rmdir "$product" "$(dirname "$product")" 2>/dev/null || true
elif [ -n "$stranger" ]; then
    # The stranger's file must be there still; then it goes, with the folder it kept.
    kept=$(echo "$prefix"/drive_c/TessaruneChecks-*)
    [ "$case" != stranger-during ] || kept="$prefix/drive_q/scratch"
    [ -f "$kept/letter.txt" ] || { echo "the stranger's file is gone"; exit 1; }
    rm -r "$kept"
fi
after=$(machine_state)
[ -n "${CHECKS_BOOTED:-}" ] || sh "$wine_prefix" "$prefix" stop
output=$(tr -d '\r' <"$log")
summary=$(printf '%s\n' "$output" | tail -n 1)
printf 'run-checks.cmd: exit status %s, last line: %s\n' "$status" "$summary"
same_machine "$before" "$after" || exit 1
if [ -n "$left" ] && ! printf '%s\n' "$output" | grep -qE "$left"; then
    echo "no line saying what the run left: $left"
    exit 1
fi
if [ -z "$expect" ]; then
    if { [ "$status" -ne 0 ] && [ -z "$may_fail" ]; } ||
        { [ "$status" -eq 0 ] && [ -n "$must_fail" ]; } ||
        ! printf '%s\n' "$summary" | grep -qE "^$counts$part\$"; then
        printf '%s\n' "$output" | grep -E '^\[  FAILED|Failure' | head -20
        exit 1
    fi
else
    # One line, saying why.
    [ "$status" -eq 2 ] && [ "$(printf '%s\n' "$output" | wc -l)" -eq 1 ] &&
        printf '%s\n' "$output" | grep -qE "^The checks refuse to run: $expect" ||
        { echo "expected the refusal: $expect"; exit 1; }
fi
