/* Dispatch ids of the array object: one table for the object's own name table (the order
   in which TSafeArray registers its members) and for the type library (safe_array.idl), so
   a client bound to either reaches the same member. Plain defines: the IDL compiler reads
   this file as well. */
#ifndef VESTREL_SAFE_ARRAY_DISPIDS_H
#define VESTREL_SAFE_ARRAY_DISPIDS_H

#define DISPID_SAFEARRAY_GETBOUNDS 0
#define DISPID_SAFEARRAY_SETBOUNDS 1
#define DISPID_SAFEARRAY_GETVALUE 2
#define DISPID_SAFEARRAY_SETVALUE 3
#define DISPID_SAFEARRAY_EMPTY 4
#define DISPID_SAFEARRAY_PSA 5
#define DISPID_SAFEARRAY_SETROWVALUES 6
#define DISPID_SAFEARRAY_SETPSA 7
#define DISPID_SAFEARRAY_LOADFROMFILE 8
#define DISPID_SAFEARRAY_SAVETOFILE 9
#define DISPID_SAFEARRAY_SAVETOFILEASSTREAM 10
#define DISPID_SAFEARRAY_LOADFROMFILEASSTREAM 11
#define DISPID_SAFEARRAY_ROWCOUNT 12
#define DISPID_SAFEARRAY_COLCOUNT 13
/* Operations of the interface without a member of the name table: ids beyond it, so the
   object answers them as unknown members rather than running another one. */
#define DISPID_SAFEARRAY_GETVARTYPE 14
#define DISPID_SAFEARRAY_SETPSAOFTYPE 15

#endif
