# Filled in as the monitors land.
