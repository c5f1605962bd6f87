package jqel.tests;

/** A row of a table of agent behaviours: what {@code arrange} makes the agent do, and the result code that follows. */
final class Case {
    final String label;
    final Runnable arrange;
    final int rc;

    Case(String label, Runnable arrange, int rc) {
        this.label = label;
        this.arrange = arrange;
        this.rc = rc;
    }
}
