/* Stand-in for the host's second library. The driver uses nothing from it;
 * it exists so that the driver program's link line is the target's. */
