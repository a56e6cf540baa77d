# Filled in as the area lands.
