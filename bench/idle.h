// The share of one core a component uses while it waits on a silent
// connection.
#pragma once

// Percent of one core used by a Read that waits `milliseconds` on a
// connection where nothing arrives.
double SilentReadCoreShare(int milliseconds);
// Percent of one core used by a completion wait for a notification that
// never comes.
double SilentWaitCoreShare(int milliseconds);
