package com.trov.jpos;

/** The state of one service object, as returned by {@link TrovService#getState()}. */
public enum ServiceState {

    /** Not open: never opened, closed by the application, or shut down by a power-off of the keyboard. */
    CLOSED,

    /** Open but not enabled. */
    IDLE,

    /** Open and enabled: the device delivers events and accepts writes. */
    ENABLED
}
