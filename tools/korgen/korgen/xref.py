"""Cross-references that span the whole catalogue, checked after the
per-type checks of validate.py:

- every WSDL operation name names one operation of the catalogue (a client
  addresses operations by that name alone, whatever type declares them), and
  no operation shares its name with a type's WSDL name;
- every `throws=` entry names a fault once per method.

Reference to unknown types, faults that are not faults and versions older
than their owner's are reported by the per-type checks.
"""


def check_cross_references(cat):
    errors = []
    type_wsdl = {t.wsdl: t for t in cat.all_types()}
    operations = {}
    for t in cat.all_types():
        for m in t.methods:
            first = operations.get(m.wsdl)
            if first is not None and first[0] is not t:
                ft, fm = first
                errors.append((m.where, f"operation {m.wsdl} of {t.name}.{m.name} is also "
                                        f"{ft.name}.{fm.name} (at {fm.where})"))
            elif first is None:
                operations[m.wsdl] = (t, m)
            if m.wsdl in type_wsdl:
                errors.append((m.where, f"operation {m.wsdl} of {t.name}.{m.name} has the WSDL name "
                                        f"of type {type_wsdl[m.wsdl].name}"))
            seen = set()
            for f in m.faults:
                if f in seen:
                    errors.append((m.where, f"method {m.name} of {t.name} lists fault {f} twice"))
                seen.add(f)
    return errors
