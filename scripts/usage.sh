#!/bin/sh
# Prints the usage of one of the project's scripts from its opening comment: the
# lines from "# Usage:" to the comment's end, without their "# ".
#
# Usage: usage.sh SCRIPT
sed -n '/^# Usage:/,/^[^#]/s/^# \{0,1\}//p' "$1"
