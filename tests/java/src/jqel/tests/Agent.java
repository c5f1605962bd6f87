package jqel.tests;

import jqel.standin.StandIn;

/** Shared helpers for tests that run against the stand-in agent. */
final class Agent {
    private Agent() {}

    static final boolean IS_64_BIT = "64".equals(System.getProperty("sun.arch.data.model"));

    /** The handle as the agent receives it: every bit that fits in a pointer. */
    static long asAgentSees(long handle) {
        return IS_64_BIT ? handle : handle & 0xFFFFFFFFL;
    }

    /** A fresh agent with one new message. */
    static long freshMessage() {
        StandIn.reset();
        return StandIn.newMessage();
    }
}
