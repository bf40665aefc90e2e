#!/bin/sh
# Usage: players_lock.sh LOCKFILE TEST_EXECUTABLE [ARGS...]
# Runs a test that starts players or binds port 1011 while holding the
# machine-wide lock, so test runs of several build trees never kill each
# other's players. Listing the tests starts nothing and needs no lock.
lock=$1
shift
case " $* " in
*" --gtest_list_tests "*) exec "$@" ;;
esac
exec flock "$lock" "$@"
